// The in-memory serial backend. All its state is guarded by the headless
// clock's lock, which the worker's reads wait under.
#include <deque>
#include <map>
#include <memory>
#include <thread>

#include "framework/headless/headless.h"
#include "serial/configure_errors.h"
#include "serial/memory/memory_line.h"
#include "serial/port_discovery.h"
#include "serial/port_errors.h"
#include "serial/port_names.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"

namespace memory {
namespace {

struct Port {
    Line* line = nullptr;
    std::deque<std::vector<std::uint8_t>> chunks;  // reads waiting for the worker
    bool closing = false;
    headless::Waiter reader;
    std::thread worker;
    std::unique_ptr<WorkerParams> params;
    LineSettings saved;  // the line's settings when the port was opened
    PortOptions options;
};

struct Backend {
    std::map<std::string, std::unique_ptr<Line>> lines;
    std::map<PortHandle, std::unique_ptr<Port>> ports;
    PortHandle nextHandle = 0x100;
    int liveWorkers = 0;
};

Backend& TheBackend() {
    static Backend b;
    return b;
}

}  // namespace

struct LineAccess {
    static Peer*& PeerOf(Line& l) { return l.m_peer; }
    static LineSettings& SettingsOf(Line& l) { return l.m_settings; }
    static auto& WritesOf(Line& l) { return l.m_writes; }
    static bool& Busy(Line& l) { return l.m_busy; }
    static bool& ConfigureFails(Line& l) { return l.m_configureFails; }
    static bool& HungUp(Line& l) { return l.m_hungUp; }
    static bool& Held(Line& l) { return l.m_held; }
    static auto& Queued(Line& l) { return l.m_queued; }
    static std::intptr_t& OpenHandle(Line& l) { return l.m_openHandle; }
};

namespace {

Port* FindPort(PortHandle h) {
    auto& ports = TheBackend().ports;
    auto it = ports.find(h);
    return it == ports.end() ? nullptr : it->second.get();
}

}  // namespace

// --- Device side ------------------------------------------------------------------

Peer::~Peer() {
    std::lock_guard<std::mutex> g(headless::Lock());
    for (auto& [name, line] : TheBackend().lines) {
        if (LineAccess::PeerOf(*line) == this) {
            LineAccess::PeerOf(*line) = nullptr;
        }
    }
}

void Line::Deliver(std::vector<std::uint8_t> chunk) {
    std::lock_guard<std::mutex> g(headless::Lock());
    Port* port = FindPort(m_openHandle);
    if (port == nullptr || port->closing || m_hungUp || chunk.empty()) {
        return;
    }
    port->chunks.push_back(std::move(chunk));
    port->reader.Wake();
}

void Line::DeliverAfter(std::uint64_t ms, std::vector<std::uint8_t> chunk) {
    headless::At(ms, [this, c = std::move(chunk)]() mutable { Deliver(std::move(c)); });
}

void Line::Hangup() {
    std::lock_guard<std::mutex> g(headless::Lock());
    m_hungUp = true;
    if (Port* port = FindPort(m_openHandle)) {
        port->reader.Wake();
    }
}

void Line::HoldOutput(bool held) {
    std::vector<std::vector<std::uint8_t>> released;
    Peer* peer = nullptr;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        m_held = held;
        if (!held) {
            released.swap(m_queued);
            peer = m_peer;
            for (const auto& bytes : released) {
                m_writes.push_back(bytes);
            }
        }
    }
    for (const auto& bytes : released) {
        if (peer) {
            peer->OnHostBytes(*this, bytes.data(), bytes.size());
        }
    }
}

bool Line::IsOpen() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    return m_openHandle != 0;
}

LineSettings Line::Settings() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    return m_settings;
}

std::vector<std::vector<std::uint8_t>> Line::Writes() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    return m_writes;
}

PortOptions Line::OpenPortOptions() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    const Port* port = FindPort(m_openHandle);
    return port != nullptr ? port->options : PortOptions{};
}

Line& AttachDevice(const std::string& name, Peer* peer) {
    std::lock_guard<std::mutex> g(headless::Lock());
    auto& slot = TheBackend().lines[name];
    if (!slot) {
        slot = std::make_unique<Line>();
    }
    LineAccess::PeerOf(*slot) = peer;
    LineAccess::HungUp(*slot) = false;
    LineAccess::Held(*slot) = false;
    LineAccess::Queued(*slot).clear();
    LineAccess::Busy(*slot) = false;
    LineAccess::ConfigureFails(*slot) = false;
    LineAccess::SettingsOf(*slot) = LineSettings{};
    LineAccess::WritesOf(*slot).clear();
    return *slot;
}

void SetBusy(const std::string& name, bool busy) {
    std::lock_guard<std::mutex> g(headless::Lock());
    auto& lines = TheBackend().lines;
    if (auto it = lines.find(name); it != lines.end()) {
        LineAccess::Busy(*it->second) = busy;
    }
}

void SetConfigureFails(const std::string& name, bool fails) {
    std::lock_guard<std::mutex> g(headless::Lock());
    auto& lines = TheBackend().lines;
    if (auto it = lines.find(name); it != lines.end()) {
        LineAccess::ConfigureFails(*it->second) = fails;
    }
}

void DetachAll() {
    std::lock_guard<std::mutex> g(headless::Lock());
    // A line whose port is still open stays until the port is closed, with
    // nothing at its far end.
    std::erase_if(TheBackend().lines, [](auto& entry) {
        LineAccess::PeerOf(*entry.second) = nullptr;
        return LineAccess::OpenHandle(*entry.second) == 0;
    });
}

int OpenPortCount() {
    std::lock_guard<std::mutex> g(headless::Lock());
    return static_cast<int>(TheBackend().ports.size());
}

int LiveWorkerCount() {
    std::lock_guard<std::mutex> g(headless::Lock());
    return TheBackend().liveWorkers;
}

}  // namespace memory

// --- Host side: the serial interface ----------------------------------------------

using memory::LineAccess;
using memory::TheBackend;

std::vector<std::string> DefaultPortList() {
    return ComPortNames();
}

// Named as Windows names its ports, as the list above is: the tests on any
// machine see the COM port rules of serial/port_names.h.
PortNaming SystemPortNaming() {
    return PortNaming::Windows;
}

// The lines with a device attached and not hung up: ports without an
// adapter that the system could name.
std::vector<PortDescription> DiscoverPorts(const DiscoveryRoots&) {
    std::lock_guard<std::mutex> g(headless::Lock());
    std::vector<PortDescription> present;
    for (const auto& [name, line] : TheBackend().lines) {
        if (LineAccess::PeerOf(*line) != nullptr && !LineAccess::HungUp(*line)) {
            PortDescription port;
            port.device = name;
            present.push_back(port);
        }
    }
    return present;
}

PortHandle OpenPortByName(const std::string& name) {
    std::lock_guard<std::mutex> g(headless::Lock());
    auto& b = TheBackend();
    auto it = b.lines.find(name);
    if (it == b.lines.end() || LineAccess::HungUp(*it->second)) {
        NoteOpenError("No such file or directory");
        return kInvalidPort;
    }
    memory::Line& line = *it->second;
    if (LineAccess::Busy(line) || LineAccess::OpenHandle(line) != 0) {
        NoteOpenError("Device or resource busy");
        return kInvalidPort;
    }
    const PortHandle h = b.nextHandle;
    b.nextHandle += 4;
    auto port = std::make_unique<memory::Port>();
    port->line = &line;
    port->saved = LineAccess::SettingsOf(line);
    b.ports[h] = std::move(port);
    LineAccess::OpenHandle(line) = h;
    memory::Peer* peer = LineAccess::PeerOf(line);
    if (peer) {
        peer->OnOpenChanged(line, true);
    }
    return h;
}

bool ConfigurePort(PortHandle h, MachineType type) {
    ConfigureErrors errors;
    PortSettings wanted;
    std::lock_guard<std::mutex> g(headless::Lock());
    memory::Port* port = memory::FindPort(h);
    if (!errors.Wanted(port != nullptr, type, &wanted)) {
        return errors.Finish();
    }
    // The line keeps what it was asked for: the tests read it back.
    memory::LineSettings& s = LineAccess::SettingsOf(*port->line);
    s.eventMask = wanted.eventMask;
    s.inQueue = wanted.inQueue;
    s.outQueue = wanted.outQueue;
    if (wanted.purge != 0) {
        ++s.purges;
        port->chunks.clear();
    }
    static_cast<PortTimeouts&>(s) = wanted.timeouts;
    s.baudRate = wanted.baudRate;
    s.dataBits = wanted.dataBits;
    s.parity = wanted.parity;
    if (LineAccess::ConfigureFails(*port->line)) {
        errors.Fail("SetCommState: The parameter is incorrect");
    }
    return errors.Finish();
}

namespace {

std::size_t QueuedBytes(memory::Line& line) {
    std::size_t queued = 0;
    for (const auto& write : LineAccess::Queued(line)) {
        queued += write.size();
    }
    return queued;
}

}  // namespace

bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    memory::Line* line = nullptr;
    memory::Peer* peer = nullptr;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        memory::Port* port = memory::FindPort(h);
        if (port == nullptr || port->closing) {
            NoteWriteError("the port is not open");
            return false;
        }
        line = port->line;
        if (LineAccess::HungUp(*line)) {
            NoteWriteError("Input/output error");
            return false;
        }
        if (LineAccess::Held(*line)) {
            const memory::LineSettings& s = LineAccess::SettingsOf(*line);
            if (QueuedBytes(*line) + n > s.outQueue) {
                // No room: a real port would wait for it, until its abort
                // flag or its bound.
                if (AbortIsSet(port->options.abortFlag)) {
                    NoteWriteError("given up: interrupted (0 of " + std::to_string(n) +
                                   " bytes taken)");
                    return false;
                }
                NoteWriteError("timed out after " + std::to_string(s.WriteTotal(n).count()) +
                               " ms (0 of " + std::to_string(n) + " bytes taken)");
                return false;
            }
            if (n > 0) {
                LineAccess::Queued(*line).emplace_back(bytes, bytes + n);
            }
            return true;
        }
        peer = LineAccess::PeerOf(*line);
        LineAccess::WritesOf(*line).emplace_back(bytes, bytes + n);
    }
    // The peer runs without the lock: it may deliver replies right away.
    if (peer && n > 0) {
        peer->OnHostBytes(*line, bytes, n);
    }
    return true;
}

bool DrainPort(PortHandle h) {
    std::lock_guard<std::mutex> g(headless::Lock());
    memory::Port* port = memory::FindPort(h);
    if (port == nullptr || port->closing) {
        NoteWriteError("the port is not open");
        return false;
    }
    if (const std::size_t queued = QueuedBytes(*port->line); queued > 0) {
        NoteWriteError("the output did not drain in time (" + std::to_string(queued) +
                       " bytes still queued)");
        return false;
    }
    return true;
}

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    memory::Port* port = nullptr;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        port = memory::FindPort(params->port);
        if (port == nullptr || port->worker.joinable()) {
            return 0;
        }
        ++TheBackend().liveWorkers;
    }
    headless::NoteWorkerStarting();
    port->params = std::move(owned);
    port->worker = std::thread([params] {
        ReceiveWorker(params);
        {
            std::lock_guard<std::mutex> g(headless::Lock());
            --TheBackend().liveWorkers;
        }
        headless::NoteWorkerFinished();
    });
    return reinterpret_cast<std::uintptr_t>(port);
}

bool ClosePort(PortHandle h) {
    std::unique_ptr<memory::Port> port;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        memory::Port* p = memory::FindPort(h);
        if (p == nullptr) {
            return true;
        }
        p->closing = true;
        if (p->params) {
            p->params->run = 0;
        }
        p->reader.Wake();
    }
    memory::Port* p = nullptr;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        p = memory::FindPort(h);
    }
    if (p->params) {
        p->params->handOver.Revoke();
    }
    if (p->worker.joinable()) {
        p->worker.join();
    }
    memory::Peer* peer = nullptr;
    memory::Line* line = nullptr;
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        auto& ports = TheBackend().ports;
        auto it = ports.find(h);
        port = std::move(it->second);
        ports.erase(it);
        line = port->line;
        // The line gets back what it had before the port was opened.
        const int purges = LineAccess::SettingsOf(*line).purges;
        LineAccess::SettingsOf(*line) = port->saved;
        LineAccess::SettingsOf(*line).purges = purges;
        LineAccess::OpenHandle(*line) = 0;
        // Closing a port drops what its driver still held.
        LineAccess::Queued(*line).clear();
        peer = LineAccess::PeerOf(*line);
    }
    if (peer) {
        peer->OnOpenChanged(*line, false);
    }
    return true;
}

// Kept with the port, for Line::OpenPortOptions and the held writes; reads
// here are whole chunks already, which fast frames leave as they are.
void SetPortOptions(PortHandle h, const PortOptions& options) {
    std::lock_guard<std::mutex> g(headless::Lock());
    if (memory::Port* port = memory::FindPort(h)) {
        port->options = options;
    }
}

bool PortIsLost(PortHandle h) {
    std::lock_guard<std::mutex> g(headless::Lock());
    memory::Port* port = memory::FindPort(h);
    return port != nullptr && LineAccess::HungUp(*port->line);
}

long ReadPort(PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    std::unique_lock<std::mutex> g(headless::Lock());
    memory::Port* port = memory::FindPort(h);
    if (port == nullptr) {
        return -1;
    }
    auto ready = [port] {
        return port->closing || LineAccess::HungUp(*port->line) || !port->chunks.empty();
    };
    port->reader.Wait(g, ready);
    if (port->closing || LineAccess::HungUp(*port->line)) {
        return -1;
    }
    std::vector<std::uint8_t>& chunk = port->chunks.front();
    const std::size_t n = std::min(capacity, chunk.size());
    std::copy_n(chunk.begin(), n, buffer);
    if (n < chunk.size()) {
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    } else {
        port->chunks.pop_front();
    }
    return static_cast<long>(n);
}
