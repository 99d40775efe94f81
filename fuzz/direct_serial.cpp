// The thread-free serial backend of the protocol fuzzer (direct_serial.h).
#include "fuzz/direct_serial.h"

#include <algorithm>
#include <map>
#include <memory>

#include "framework/afxwin.h"
#include "serial/configure_errors.h"
#include "serial/port_errors.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "serial/rx_message.h"
#include "serial/serial_port.h"

namespace direct {

struct Device {
    // The first `written` entries are the writes; the entries past them keep
    // their buffers, so that a fuzz input's writes cost no allocation.
    std::vector<std::vector<std::uint8_t>> writes;
    std::size_t written = 0;
    PortHandle openHandle = kNoPort;
    bool attached = false;
};

namespace {

struct Port {
    Device* device = nullptr;
    std::unique_ptr<WorkerParams> params;  // set once a worker has been started
    std::unique_ptr<RxDecoder> decoder;    // the worker's hunt state
    bool workerEnded = false;
};

struct Backend {
    std::map<std::string, Device> devices;
    std::map<PortHandle, Port> ports;
    PortHandle nextHandle = 0x100;
};

Backend& TheBackend() {
    static Backend b;
    return b;
}

Port* FindPort(PortHandle h) {
    auto& ports = TheBackend().ports;
    auto it = ports.find(h);
    return it == ports.end() ? nullptr : &it->second;
}

bool WorkerRunning(const Port& port) {
    return port.params && !port.workerEnded;
}

}  // namespace

Device& AttachDevice(const std::string& name) {
    Device& d = TheBackend().devices[name];
    d.written = 0;
    d.attached = true;
    return d;
}

void DetachAll() {
    // A port still open keeps working until it is closed; no new one opens.
    for (auto& [name, device] : TheBackend().devices) {
        device.attached = false;
    }
}

bool Read(const Device& device, const std::uint8_t* bytes, std::size_t n) {
    const PortHandle h = device.openHandle;
    if (h == kNoPort) {
        return false;
    }
    bool read = false;
    // The worker's loop (serial/receive_worker.cpp), one pass per piece.
    for (std::size_t at = 0; at < n;) {
        Port* port = FindPort(h);
        if (port == nullptr || !WorkerRunning(*port) || port->params->run.load() == 0) {
            break;
        }
        const std::size_t piece = std::min(kReadSize, n - at);
        std::unique_ptr<RxMessage> msg = port->decoder->TakeRead(bytes + at, piece);
        at += piece;
        read = true;
        if (!msg) {
            continue;
        }
        WorkerParams* params = port->params.get();
        params->window->SendMessage(WM_RXDATA, reinterpret_cast<WPARAM>(msg.release()),
                                    reinterpret_cast<LPARAM>(params));
        // The handler may have closed the port; look it up again.
        port = FindPort(h);
        if (port != nullptr && port->params && port->params->run.load() == 0) {
            port->workerEnded = true;  // ends right after the hand-over
        }
    }
    return read;
}

std::span<const std::vector<std::uint8_t>> Writes(const Device& device) {
    return {device.writes.data(), device.written};
}

int OpenPortCount() {
    return static_cast<int>(TheBackend().ports.size());
}

int LiveWorkerCount() {
    int n = 0;
    for (const auto& [h, port] : TheBackend().ports) {
        n += WorkerRunning(port) ? 1 : 0;
    }
    return n;
}

}  // namespace direct

// --- The serial interface ----------------------------------------------------------

using direct::TheBackend;

std::vector<std::string> DefaultPortList() {
    return ComPortNames();
}

PortHandle OpenPortByName(const std::string& name) {
    auto& b = TheBackend();
    auto it = b.devices.find(name);
    if (it == b.devices.end() || !it->second.attached) {
        NoteOpenError("No such file or directory");
        return kInvalidPort;
    }
    if (it->second.openHandle != kNoPort) {
        NoteOpenError("Device or resource busy");
        return kInvalidPort;
    }
    const PortHandle h = b.nextHandle;
    b.nextHandle += 4;
    b.ports[h].device = &it->second;
    it->second.openHandle = h;
    return h;
}

// Reads here are whole pieces already; nothing to configure or to purge.
// The line takes every setting: the fuzzer's machine has no driver to
// refuse one.
bool ConfigurePort(PortHandle, MachineType) {
    return ConfigureErrors().Finish();
}

bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    direct::Port* port = direct::FindPort(h);
    if (port == nullptr) {
        NoteWriteError("the port is not open");
        return false;
    }
    if (n > 0) {  // an empty write puts nothing on the line
        direct::Device& d = *port->device;
        if (d.written == d.writes.size()) {
            d.writes.emplace_back();
        }
        d.writes[d.written++].assign(bytes, bytes + n);
    }
    return true;
}

// Every write reaches the line at once: nothing is ever queued.
bool DrainPort(PortHandle h) {
    if (direct::FindPort(h) == nullptr) {
        NoteWriteError("the port is not open");
        return false;
    }
    return true;
}

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    direct::Port* port = direct::FindPort(params->port);
    if (port == nullptr || port->params) {
        return 0;
    }
    port->decoder = std::make_unique<RxDecoder>(params->machineType);
    port->params = std::move(owned);
    return reinterpret_cast<std::uintptr_t>(port);
}

bool ClosePort(PortHandle h) {
    auto& b = TheBackend();
    auto it = b.ports.find(h);
    if (it == b.ports.end()) {
        return true;
    }
    if (it->second.params) {
        it->second.params->run = 0;
    }
    it->second.device->openHandle = kNoPort;
    b.ports.erase(it);
    return true;
}

// Writes never wait here, and the fuzzer hands over whole pieces: no
// option changes anything.
void SetPortOptions(PortHandle, const PortOptions&) {}

bool PortIsLost(PortHandle) {
    return false;
}

// The fuzzer reads for the worker (direct::Read); no thread ever calls this.
long ReadPort(PortHandle, std::uint8_t*, std::size_t) {
    return -1;
}
