// Serial ports on Win32: COM devices in overlapped mode. Here the table of
// open ports, opening and configuring a port, and its options; the port's
// record and how its waits are bounded are described in com_port.h.
#include <memory>
#include <mutex>
#include <string>

#include "framework/win32/win32.h"
#include "serial/configure_errors.h"
#include "serial/port_errors.h"
#include "serial/serial_port.h"
#include "serial/win32/com_port.h"

namespace comport {

Backend& TheBackend() {
    static Backend b;
    return b;
}

Port* FindPort(PortHandle h) {
    std::lock_guard<std::mutex> g(TheBackend().lock);
    auto& ports = TheBackend().ports;
    auto it = ports.find(h);
    return it == ports.end() ? nullptr : it->second.get();
}

std::string LastErrorText() {
    return win32::SystemMessage(::GetLastError());
}

bool IoEnded(HANDLE ioEvent) {
    return ::WaitForSingleObject(ioEvent, kCancelWaitMs) == WAIT_OBJECT_0;
}

}  // namespace comport

using comport::DeviceOf;
using comport::FindPort;
using comport::LastErrorText;
using comport::Port;
using comport::TheBackend;

namespace {

COMMTIMEOUTS ToCommTimeouts(const PortTimeouts& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.readIntervalTimeout;
    c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    c.ReadTotalTimeoutConstant = t.readTotalConstant;
    c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    c.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return c;
}

}  // namespace

PortHandle OpenPortByName(const std::string& name) {
    HANDLE device =
        ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        NoteOpenError(win32::SystemMessage(GetLastError()));
        return kInvalidPort;
    }
    auto port = std::make_unique<Port>();
    port->device = device;
    port->closeEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->readEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->writeEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!port->closeEvent || !port->readEvent || !port->writeEvent) {
        // Without its events no wait of the port could be ended: no port.
        const std::string reason = win32::SystemMessage(GetLastError());
        for (HANDLE event : {port->closeEvent, port->readEvent, port->writeEvent}) {
            if (event) {
                ::CloseHandle(event);
            }
        }
        ::CloseHandle(device);
        NoteOpenError(reason);
        return kInvalidPort;
    }
    port->savedState.DCBlength = sizeof(DCB);
    port->haveSavedState = ::GetCommState(device, &port->savedState) != FALSE;
    port->haveSavedTimeouts = ::GetCommTimeouts(device, &port->savedTimeouts) != FALSE;
    port->haveSavedMask = ::GetCommMask(device, &port->savedMask) != FALSE;
    const auto h = reinterpret_cast<PortHandle>(device);
    std::lock_guard<std::mutex> g(TheBackend().lock);
    TheBackend().ports[h] = std::move(port);
    return h;
}

bool ConfigurePort(PortHandle h, MachineType type) {
    ConfigureErrors errors(LastErrorText);
    PortSettings wanted;
    Port* port = FindPort(h);
    if (!errors.Wanted(port != nullptr, type, &wanted)) {
        return errors.Finish();
    }
    HANDLE device = DeviceOf(h);
    errors.Check(::SetCommMask(device, wanted.eventMask), "SetCommMask");
    errors.Check(::SetupComm(device, wanted.inQueue, wanted.outQueue), "SetupComm");
    errors.Check(::PurgeComm(device, wanted.purge), "PurgeComm");
    COMMTIMEOUTS timeouts = ToCommTimeouts(wanted.timeouts);
    errors.Check(::SetCommTimeouts(device, &timeouts), "SetCommTimeouts");
    port->timeouts = wanted.timeouts;
    DCB dcb{};
    dcb.DCBlength = 28;
    // Without the port's own state there is nothing to change three
    // fields of: setting a zeroed record would throw away its stop bits
    // and flow control.
    if (errors.Check(::GetCommState(device, &dcb), "GetCommState")) {
        dcb.BaudRate = wanted.baudRate;
        port->baudRate = wanted.baudRate;
        dcb.ByteSize = wanted.dataBits;
        dcb.Parity = wanted.parity;
        errors.Check(::SetCommState(device, &dcb), "SetCommState");
    }
    return errors.Finish();
}

// Reads here end by the driver's own timeouts; fast frames are not for
// this backend, only the abort flag is.
void SetPortOptions(PortHandle h, const PortOptions& options) {
    if (Port* port = FindPort(h)) {
        port->abortFlag = options.abortFlag;
    }
}

bool PortIsLost(PortHandle h) {
    Port* port = FindPort(h);
    return port != nullptr && port->lost.load();
}
