// Serial ports on Win32: COM devices in overlapped mode.
//
// A port's handle is the device handle itself. Each port has a close event
// that ends every wait of its worker, so closing never depends on the
// driver: the worker is woken, its I/O cancelled, the thread waited for,
// and only then is the device handle closed, before the same handle value
// can be given to a port opened later.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "framework/win32/win32.h"
#include "serial/configure_errors.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"
#include "serial/win32/line_errors.h"

namespace {

struct Port {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE closeEvent = nullptr;  // set by ClosePort; ends every wait of the worker
    HANDLE readEvent = nullptr;   // the worker's overlapped record's event
    // The worker's overlapped record and event mask. They live with the port,
    // not on the worker's stack, because an operation the driver will not
    // cancel is only ended by closing the device, after the worker is gone.
    OVERLAPPED readOv{};
    DWORD mask = 0;
    // Whether the driver's event wait can be trusted. Wine's fails, or never
    // ends, on a pseudo-terminal, which has no modem lines to report; there
    // the read itself waits for the first character.
    int eventWait = -1;  // not yet known
    HANDLE thread = nullptr;
    std::unique_ptr<WorkerParams> params;
    std::atomic<bool> lost{false};  // a read found the device gone
    // What the port had when we opened it, put back on close.
    DCB savedState{};
    COMMTIMEOUTS savedTimeouts{};
    DWORD savedMask = 0;
    bool haveSavedState = false, haveSavedTimeouts = false, haveSavedMask = false;
    // What the driver was given, which also bounds our wait for a write.
    PortTimeouts timeouts = kUnconfiguredTimeouts;
};

struct Backend {
    std::mutex lock;  // guards the map; a port itself lives until its worker has ended
    std::map<PortHandle, std::unique_ptr<Port>> ports;
    std::string lastError;
};

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

HANDLE DeviceOf(PortHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// Waits for an overlapped operation or the port's close. False on close.
bool WaitForIo(Port& port, HANDLE ioEvent) {
    HANDLE events[2] = {ioEvent, port.closeEvent};
    return ::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

DWORD WINAPI WorkerThread(LPVOID param) {
    return ReceiveWorker(static_cast<WorkerParams*>(param));
}

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
        TheBackend().lastError = win32::SystemMessage(GetLastError());
        return kInvalidPort;
    }
    auto port = std::make_unique<Port>();
    port->device = device;
    port->savedState.DCBlength = sizeof(DCB);
    port->haveSavedState = ::GetCommState(device, &port->savedState) != FALSE;
    port->haveSavedTimeouts = ::GetCommTimeouts(device, &port->savedTimeouts) != FALSE;
    port->haveSavedMask = ::GetCommMask(device, &port->savedMask) != FALSE;
    port->closeEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->readEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto h = reinterpret_cast<PortHandle>(device);
    std::lock_guard<std::mutex> g(TheBackend().lock);
    TheBackend().ports[h] = std::move(port);
    return h;
}

std::string LastOpenError() {
    return TheBackend().lastError;
}

namespace {

std::string LastErrorText() {
    return win32::SystemMessage(::GetLastError());
}

}  // namespace

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
        dcb.ByteSize = wanted.dataBits;
        dcb.Parity = wanted.parity;
        errors.Check(::SetCommState(device, &dcb), "SetCommState");
    }
    return errors.Finish();
}

bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    // The record and the bytes stay ours until the write has completed:
    // wait for it, no longer than the write timeouts allow, and cancel a
    // write that overruns them.
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = ::WriteFile(DeviceOf(h), bytes, static_cast<DWORD>(n), &written, &ov);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
        // Waited for in slices, so that the abort flag is seen within 100 ms;
        // a second past the write timeouts the driver has failed to end it.
        const auto bound = static_cast<ULONGLONG>(port->timeouts.WriteTotal(n).count()) + 1000;
        const ULONGLONG start = ::GetTickCount64();
        DWORD waited = WAIT_TIMEOUT;
        while (waited == WAIT_TIMEOUT && !AbortRequested() && ::GetTickCount64() - start < bound) {
            waited = ::WaitForSingleObject(ov.hEvent, kAbortCheckMs);
        }
        if (waited != WAIT_OBJECT_0) {
            ::CancelIoEx(DeviceOf(h), &ov);
        }
        ok = ::GetOverlappedResult(DeviceOf(h), &ov, &written, TRUE);
    }
    ::CloseHandle(ov.hEvent);
    return ok && written == n;
}

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    Port* port = FindPort(params->port);
    if (port == nullptr || port->thread != nullptr) {
        return 0;
    }
    port->params = std::move(owned);
    port->thread = ::CreateThread(nullptr, 0, &WorkerThread, params, 0, nullptr);
    if (port->thread == nullptr) {
        port->params.reset();
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(port->thread);
}

void ClosePort(PortHandle h) {
    if (h == kNoPort || h == kInvalidPort) {
        return;
    }
    Port* port = FindPort(h);
    if (port == nullptr) {
        return;
    }
    if (port->params) {
        port->params->run = 0;
        port->params->handOver.Revoke();
    }
    ::SetEvent(port->closeEvent);
    if (port->thread) {
        // A hand-over the worker already sent cannot be taken back: handle
        // it (the window drops it, the run flag being 0) while waiting.
        for (;;) {
            const DWORD r =
                ::MsgWaitForMultipleObjects(1, &port->thread, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r != WAIT_OBJECT_0 + 1) {
                break;
            }
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        ::CloseHandle(port->thread);
    }
    // Leave the port as we found it. A device that has gone refuses this,
    // and there is nobody left to tell.
    if (port->haveSavedMask) {
        ::SetCommMask(port->device, port->savedMask);
    }
    if (port->haveSavedTimeouts) {
        ::SetCommTimeouts(port->device, &port->savedTimeouts);
    }
    if (port->haveSavedState) {
        ::SetCommState(port->device, &port->savedState);
    }
    ::CloseHandle(port->device);
    ::CloseHandle(port->closeEvent);
    ::CloseHandle(port->readEvent);
    std::lock_guard<std::mutex> g(TheBackend().lock);
    TheBackend().ports.erase(h);
}

namespace {

// Ends an operation of the worker's on close: cancel it and give the driver a
// moment to say so. If it does not, the record stays valid with the port
// until ClosePort closes the device.
long AbandonRead(Port& port) {
    ::CancelIoEx(port.device, &port.readOv);
    ::WaitForSingleObject(port.readOv.hEvent, 500);
    return -1;
}

}  // namespace

// Reads here are whole chunks already; nothing to shorten.
void SetFastFrames(bool) {}

bool PortIsLost(PortHandle h) {
    Port* port = FindPort(h);
    return port != nullptr && port->lost.load();
}

ReadFailure ClassifyReadFailure(DWORD error, bool cleared, DWORD commErrors) {
    if (!cleared) {
        return ReadFailure::DeviceGone;  // the driver no longer answers for the port
    }
    switch (error) {
        // What drivers of removable ports fail with once the device is gone.
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
            return ReadFailure::DeviceGone;
        default:
            break;
    }
    const DWORD lineErrors = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
    if ((commErrors & lineErrors) != 0 || error == ERROR_OPERATION_ABORTED) {
        // An abort with no flags left: an earlier ClearCommError took them.
        return ReadFailure::LineError;
    }
    return ReadFailure::DeviceGone;
}

namespace {

long ReadOnce(Port* port, PortHandle h, std::uint8_t* buffer, std::size_t capacity);

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

}  // namespace

long ReadPort(PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        return -1;
    }
    const long n = ReadOnce(port, h, buffer, capacity);
    if (n < 0 && ::WaitForSingleObject(port->closeEvent, 0) != WAIT_OBJECT_0) {
        port->lost = true;
    }
    return n;
}

namespace {

long ReadOnce(Port* port, PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    HANDLE device = DeviceOf(h);
    OVERLAPPED& ov = port->readOv;
    ov = OVERLAPPED{};
    ov.hEvent = port->readEvent;
    ::ResetEvent(ov.hEvent);

    // Characters that came before this wait began may not wake it (Wine's
    // event wait sees only new ones): take what is queued first.
    DWORD errors = 0;
    COMSTAT stat{};
    ::ClearCommError(device, &errors, &stat);
    port->mask = 0;
    if (port->eventWait < 0) {
        DWORD modem = 0;
        port->eventWait = ::GetCommModemStatus(device, &modem) ? 1 : 0;
    }
    if (stat.cbInQue == 0 && port->eventWait && !::WaitCommEvent(device, &port->mask, &ov)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return FailedRead(*port, device, error, 0);
        }
        if (!WaitForIo(*port, ov.hEvent)) {
            return AbandonRead(*port);
        }
        // The outcome is not needed: a wait that ended without EV_RXCHAR,
        // or failed (Wine's does on pseudo-terminals, which have no modem
        // lines), is followed by a read all the same. That read waits for
        // a first character within the read timeouts, so no CPU is spent
        // on a wait that keeps ending early.
        DWORD ignored = 0;
        ::GetOverlappedResult(device, &ov, &ignored, FALSE);
    }
    if (::WaitForSingleObject(port->closeEvent, 0) == WAIT_OBJECT_0) {
        return -1;
    }
    ::ClearCommError(device, &errors, &stat);
    ::ResetEvent(ov.hEvent);
    DWORD n = 0;
    if (!::ReadFile(device, buffer, static_cast<DWORD>(capacity), &n, &ov)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return FailedRead(*port, device, error, 0);
        }
        if (!WaitForIo(*port, ov.hEvent)) {
            // The buffer is the worker's: wait until the read lets go of it.
            ::CancelIoEx(device, &ov);
            ::GetOverlappedResult(device, &ov, &n, TRUE);
            return -1;
        }
        if (!::GetOverlappedResult(device, &ov, &n, FALSE)) {
            return FailedRead(*port, device, ::GetLastError(), n);
        }
    }
    return static_cast<long>(n);
}

}  // namespace
