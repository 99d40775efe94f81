// Serial ports on Win32: the receive worker's thread and its reads, which
// wait on the port's overlapped record until a character comes or the port
// is closed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "framework/win32/win32.h"
#include "serial/port_errors.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"
#include "serial/win32/com_port.h"
#include "serial/win32/line_errors.h"

using comport::DeviceOf;
using comport::FindPort;
using comport::IoEnded;
using comport::LastErrorText;
using comport::Port;

namespace {

// Waits for an overlapped operation or the port's close. False on close.
bool WaitForIo(Port& port, HANDLE ioEvent) {
    HANDLE events[2] = {ioEvent, port.closeEvent};
    return ::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

DWORD WINAPI WorkerThread(LPVOID param) {
    return ReceiveWorker(static_cast<WorkerParams*>(param));
}

}  // namespace

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    if (params == nullptr) {
        return 0;
    }
    Port* port = FindPort(params->port);
    if (port == nullptr || port->thread != nullptr) {
        NoteOpenError(port == nullptr ? "the port is not open"
                                      : "the port already has a receive worker");
        return 0;
    }
    port->params = std::move(owned);
    port->thread = ::CreateThread(nullptr, 0, &WorkerThread, params, 0, nullptr);
    if (port->thread == nullptr) {
        // No thread to read the port: the scan takes it as a failed open.
        const std::string reason = "starting the receive worker: " + LastErrorText();
        port->params.reset();
        NoteOpenError(reason);
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(port->thread);
}

namespace {

// Ends an operation of the worker's on close: cancel it and give the driver a
// moment to say so. If it does not, the record and the buffer stay valid
// with the port until ClosePort has closed the device and seen it end.
long AbandonRead(Port& port) {
    ::CancelIoEx(port.device, &port.readOv);
    port.readStuck = !IoEnded(port.readOv.hEvent);
    return -1;
}

// A wait or read of the worker's failed: a line error is cleared and the
// pass given up (what the read had taken is kept), after a pause that
// keeps a line failing again and again from spinning; a device that has
// gone ends the worker. Call right after the failure, with its error.
long FailedRead(Port& port, HANDLE device, DWORD error, DWORD taken) {
    DWORD errors = 0;
    COMSTAT stat{};
    const bool cleared = ::ClearCommError(device, &errors, &stat) != FALSE;
    if (ClassifyReadFailure(error, cleared, errors) == ReadFailure::DeviceGone) {
        return -1;
    }
    constexpr DWORD kLineErrorPauseMs = 10;  // the driver's queue holds what comes meanwhile
    if (::WaitForSingleObject(port.closeEvent, kLineErrorPauseMs) == WAIT_OBJECT_0) {
        return -1;
    }
    return static_cast<long>(taken);
}

// Waits, using no CPU, for a first character unless some are queued
// already. Returns nothing when the read is to follow, or what the read
// returns instead: the port is closing, or the wait failed.
std::optional<long> AwaitFirstCharacter(Port& port, HANDLE device) {
    OVERLAPPED& ov = port.readOv;
    // Characters that came before this wait began may not wake it (Wine's
    // event wait sees only new ones): take what is queued first.
    DWORD errors = 0;
    COMSTAT stat{};
    ::ClearCommError(device, &errors, &stat);
    port.mask = 0;
    if (port.eventWait < 0) {
        DWORD modem = 0;
        port.eventWait = ::GetCommModemStatus(device, &modem) ? 1 : 0;
    }
    if (stat.cbInQue == 0 && port.eventWait && !::WaitCommEvent(device, &port.mask, &ov)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return FailedRead(port, device, error, 0);
        }
        if (!WaitForIo(port, ov.hEvent)) {
            return AbandonRead(port);
        }
        // The outcome is not needed: a wait that ended without EV_RXCHAR,
        // or failed (Wine's does on pseudo-terminals, which have no modem
        // lines), is followed by a read all the same. That read waits for
        // a first character within the read timeouts, so no CPU is spent
        // on a wait that keeps ending early.
        DWORD ignored = 0;
        ::GetOverlappedResult(device, &ov, &ignored, FALSE);
    }
    if (::WaitForSingleObject(port.closeEvent, 0) == WAIT_OBJECT_0) {
        return -1;
    }
    return std::nullopt;
}

long ReadOnce(Port& port, PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    HANDLE device = DeviceOf(h);
    OVERLAPPED& ov = port.readOv;
    ov = OVERLAPPED{};
    ov.hEvent = port.readEvent;
    ::ResetEvent(ov.hEvent);
    if (const std::optional<long> instead = AwaitFirstCharacter(port, device)) {
        return *instead;
    }
    DWORD errors = 0;
    COMSTAT stat{};
    ::ClearCommError(device, &errors, &stat);
    ::ResetEvent(ov.hEvent);
    // Into the port's own buffer, which outlives a read the driver will not
    // cancel; copied out once the read is done.
    DWORD n = 0;
    const DWORD asked = static_cast<DWORD>(std::min(capacity, sizeof port.readBuffer));
    if (!::ReadFile(device, port.readBuffer, asked, &n, &ov)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return FailedRead(port, device, error, 0);
        }
        if (!WaitForIo(port, ov.hEvent)) {
            return AbandonRead(port);
        }
        if (!::GetOverlappedResult(device, &ov, &n, FALSE)) {
            const DWORD error = ::GetLastError();
            const long taken = FailedRead(port, device, error, n);
            if (taken > 0) {
                std::memcpy(buffer, port.readBuffer, static_cast<std::size_t>(taken));
            }
            return taken;
        }
    }
    std::memcpy(buffer, port.readBuffer, n);
    return static_cast<long>(n);
}

}  // namespace

long ReadPort(PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        return -1;
    }
    const long n = ReadOnce(*port, h, buffer, capacity);
    if (n < 0 && ::WaitForSingleObject(port->closeEvent, 0) != WAIT_OBJECT_0) {
        port->lost = true;
    }
    return n;
}
