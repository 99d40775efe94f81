// Serial ports on Win32: COM devices in overlapped mode.
//
// A port's handle is the device handle itself. Each port has a close event
// that ends every wait of its worker, so closing never depends on the
// driver: the worker is woken, its I/O cancelled, the thread waited for,
// and only then is the device handle closed, before the same handle value
// can be given to a port opened later.
//
// No wait is unbounded. The overlapped records and the buffers of reads and
// writes belong to the port, not to a caller's stack, so an operation the
// driver does not end when told to cancel can be left to it: it keeps them
// until the device is closed (and for the life of the process if it has not
// ended even then). A worker that has not ended within kWorkerEndMs of the
// close is left likewise, with its port, device open, so that the handle
// value is never given to another port while the worker may still use it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/win32/win32.h"
#include "serial/configure_errors.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "serial/serial_port.h"
#include "serial/win32/line_errors.h"
#include "serial/write_error.h"

namespace {

struct Port {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE closeEvent = nullptr;  // set by ClosePort; ends every wait of the worker
    HANDLE readEvent = nullptr;   // the worker's overlapped record's event
    // The worker's overlapped record and event mask. They live with the port,
    // not on the worker's stack, because an operation the driver will not
    // cancel is only ended by closing the device, after the worker is gone.
    OVERLAPPED readOv{};
    std::uint8_t readBuffer[kReadSize] = {};  // ReadFile's target, copied out when done
    DWORD mask = 0;
    bool readStuck = false;  // an abandoned wait or read the driver never ended
    // The writes' record, event and bytes, kept with the port for the same
    // reason: a write whose cancel the driver never completes still owns
    // them, and the port then takes no further write (writeStuck).
    OVERLAPPED writeOv{};
    HANDLE writeEvent = nullptr;
    std::vector<std::uint8_t> writeBuffer;
    bool writeStuck = false;
    DWORD baudRate = 9600;  // as configured, for the drain's bound
    // Whether the driver's event wait can be trusted. Wine's fails, or never
    // ends, on a pseudo-terminal, which has no modem lines to report; there
    // the read itself waits for the first character.
    int eventWait = -1;  // not yet known
    HANDLE thread = nullptr;
    std::unique_ptr<WorkerParams> params;
    std::atomic<bool> lost{false};  // a read found the device gone
    // The port's abort flag (SetPortOptions), looked at by a waiting write.
    std::atomic<const std::atomic<int>*> abortFlag{nullptr};
    // What the port had when we opened it, put back on close.
    DCB savedState{};
    COMMTIMEOUTS savedTimeouts{};
    DWORD savedMask = 0;
    bool haveSavedState = false, haveSavedTimeouts = false, haveSavedMask = false;
    // What the driver was given, which also bounds our wait for a write.
    PortTimeouts timeouts = kUnconfiguredTimeouts;
};

struct Backend {
    std::mutex lock;  // guards the map and the texts; a port lives until its worker has ended
    std::map<PortHandle, std::unique_ptr<Port>> ports;
    // Ports whose worker did not end on close: kept, device open, for the
    // life of the process, since the worker may still touch them.
    std::vector<std::unique_ptr<Port>> stranded;
    std::string lastError;
    std::string lastCloseError;
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
        const std::string reason = win32::SystemMessage(GetLastError());
        std::lock_guard<std::mutex> g(TheBackend().lock);
        TheBackend().lastError = reason;
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
        std::lock_guard<std::mutex> g(TheBackend().lock);
        TheBackend().lastError = reason;
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

std::string LastOpenError() {
    std::lock_guard<std::mutex> g(TheBackend().lock);
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
        port->baudRate = wanted.baudRate;
        dcb.ByteSize = wanted.dataBits;
        dcb.Parity = wanted.parity;
        errors.Check(::SetCommState(device, &dcb), "SetCommState");
    }
    return errors.Finish();
}

namespace {

// How long a cancelled operation is given to say it has ended.
constexpr DWORD kCancelWaitMs = 500;
// How long past its write total a write is waited for before it is
// cancelled: the driver's own timeout ends it at the total, give or take
// its timer. With the cancel's wait, no write takes more than its total
// and a second.
constexpr ULONGLONG kWriteGraceMs = 400;
// Why a port whose write the driver never let go of takes no other.
constexpr char kStuckWrite[] = "a previous write never completed; the port takes no further write";

std::string TimedOut(std::chrono::milliseconds total, DWORD taken, std::size_t n) {
    return "timed out after " + std::to_string(total.count()) + " ms (" + std::to_string(taken) +
           " of " + std::to_string(n) + " bytes taken)";
}

// Whether an operation that was told to end has done so, within the
// cancel's moment.
bool IoEnded(HANDLE ioEvent) {
    return ::WaitForSingleObject(ioEvent, kCancelWaitMs) == WAIT_OBJECT_0;
}

// What a write's timeout ends it with where the driver reports it as a
// failure rather than as fewer bytes written.
bool IsTimeout(DWORD error) {
    return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT || error == WAIT_TIMEOUT ||
           error == ERROR_COUNTER_TIMEOUT;
}

}  // namespace

bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        NoteWriteError("the port is not open");
        return false;
    }
    if (port->writeStuck) {
        NoteWriteError(kStuckWrite);
        return false;
    }
    if (n == 0) {
        return true;
    }
    // The record and the bytes are the port's, so that a write the driver
    // will not let go of within our bound can be left to it: wait no
    // longer than the write timeouts allow (and a little more), cancel,
    // and give the cancel a bounded moment.
    HANDLE device = DeviceOf(h);
    port->writeBuffer.assign(bytes, bytes + n);
    port->writeOv = OVERLAPPED{};
    port->writeOv.hEvent = port->writeEvent;
    ::ResetEvent(port->writeEvent);
    const auto total = port->timeouts.WriteTotal(n);
    bool aborted = false;
    if (!::WriteFile(device, port->writeBuffer.data(), static_cast<DWORD>(n), nullptr,
                     &port->writeOv)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            NoteWriteError(win32::SystemMessage(error));
            return false;
        }
        // Waited for in slices, so that the port's abort flag is seen
        // within 100 ms.
        const ULONGLONG bound = static_cast<ULONGLONG>(total.count()) + kWriteGraceMs;
        const ULONGLONG start = ::GetTickCount64();
        bool done = false;
        for (;;) {
            if (AbortIsSet(port->abortFlag.load())) {
                aborted = true;
                break;
            }
            const ULONGLONG waited = ::GetTickCount64() - start;
            if (waited >= bound) {
                break;
            }
            const auto slice =
                static_cast<DWORD>(std::min<ULONGLONG>(kAbortCheckMs, bound - waited));
            const DWORD r = ::WaitForSingleObject(port->writeEvent, slice);
            if (r != WAIT_TIMEOUT) {
                done = r == WAIT_OBJECT_0;
                break;
            }
        }
        if (!done) {
            ::CancelIoEx(device, &port->writeOv);
            if (!IoEnded(port->writeEvent)) {
                // The driver still owns the record and the bytes: they stay
                // with the port, which takes no further write.
                port->writeStuck = true;
                const std::string what =
                    aborted ? "given up: interrupted"
                            : "timed out after " + std::to_string(total.count()) + " ms";
                NoteWriteError(what +
                               ", and the driver did not end the write when told to cancel it");
                return false;
            }
        }
    }
    DWORD written = 0;
    const bool ok = ::GetOverlappedResult(device, &port->writeOv, &written, FALSE) != FALSE;
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (ok && written == n) {
        return true;  // all taken, even if the abort came meanwhile
    }
    if (aborted) {
        NoteWriteError("given up: interrupted (" + std::to_string(written) + " of " +
                       std::to_string(n) + " bytes taken)");
        return false;
    }
    if (ok || error == ERROR_OPERATION_ABORTED || IsTimeout(error)) {
        // Ended short by the driver's write timeout, or cancelled by us at
        // our bound: the line is held.
        NoteWriteError(TimedOut(total, written, n));
        return false;
    }
    NoteWriteError(win32::SystemMessage(error));
    return false;
}

bool DrainPort(PortHandle h) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        NoteWriteError("the port is not open");
        return false;
    }
    if (port->writeStuck) {
        NoteWriteError(kStuckWrite);
        return false;
    }
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(port->device, &errors, &stat)) {
        NoteWriteError(win32::SystemMessage(GetLastError()));
        return false;
    }
    if (stat.cbOutQue == 0) {
        return true;
    }
    // As long as sending what is queued takes at the port's rate, twice
    // over, and 100 ms more.
    const DWORD baud = std::max<DWORD>(port->baudRate, 300);
    const ULONGLONG bound = 100 + 2ULL * 10'000ULL * stat.cbOutQue / baud;
    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start < bound) {
        ::Sleep(2);
        if (!::ClearCommError(port->device, &errors, &stat)) {
            NoteWriteError(win32::SystemMessage(GetLastError()));
            return false;
        }
        if (stat.cbOutQue == 0) {
            return true;
        }
    }
    NoteWriteError("the output did not drain in " + std::to_string(bound) + " ms (" +
                   std::to_string(stat.cbOutQue) + " bytes still queued)");
    return false;
}

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    if (params == nullptr) {
        return 0;
    }
    Port* port = FindPort(params->port);
    if (port == nullptr || port->thread != nullptr) {
        std::lock_guard<std::mutex> g(TheBackend().lock);
        TheBackend().lastError =
            port == nullptr ? "the port is not open" : "the port already has a receive worker";
        return 0;
    }
    port->params = std::move(owned);
    port->thread = ::CreateThread(nullptr, 0, &WorkerThread, params, 0, nullptr);
    if (port->thread == nullptr) {
        // No thread to read the port: the scan takes it as a failed open.
        const std::string reason = "starting the receive worker: " + LastErrorText();
        port->params.reset();
        std::lock_guard<std::mutex> g(TheBackend().lock);
        TheBackend().lastError = reason;
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(port->thread);
}

std::string LastCloseError() {
    std::lock_guard<std::mutex> g(TheBackend().lock);
    return TheBackend().lastCloseError;
}

bool ClosePort(PortHandle h) {
    if (h == kNoPort || h == kInvalidPort) {
        return true;
    }
    Port* port = FindPort(h);
    if (port == nullptr) {
        return true;
    }
    if (port->params) {
        port->params->run = 0;
        port->params->handOver.Revoke();
    }
    ::SetEvent(port->closeEvent);
    if (port->thread) {
        // A hand-over the worker already sent cannot be taken back: handle
        // it (the window drops it, the run flag being 0) while waiting, no
        // longer than kWorkerEndMs in all.
        const ULONGLONG start = ::GetTickCount64();
        bool ended = false;
        for (;;) {
            const ULONGLONG waited = ::GetTickCount64() - start;
            if (waited >= static_cast<ULONGLONG>(kWorkerEndMs)) {
                break;
            }
            const DWORD r = ::MsgWaitForMultipleObjects(
                1, &port->thread, FALSE, static_cast<DWORD>(kWorkerEndMs - waited), QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0) {
                ended = true;
                break;
            }
            if (r != WAIT_OBJECT_0 + 1) {
                break;
            }
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        if (!ended) {
            // The worker has not ended (stuck in a driver, say). Nothing it
            // may still touch is freed or closed: the device stays open, so its handle
            // value cannot come back for a port opened later.
            std::lock_guard<std::mutex> g(TheBackend().lock);
            auto& b = TheBackend();
            b.lastCloseError = "the receive worker did not end within " +
                               std::to_string(kWorkerEndMs) + " ms; the port is left open";
            auto it = b.ports.find(h);
            b.stranded.push_back(std::move(it->second));
            b.ports.erase(it);
            return false;
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
    // Closing the device ends what the driver would not cancel; should it
    // still not say so, the records it may yet complete into are kept.
    const bool settled = (!port->writeStuck || IoEnded(port->writeEvent)) &&
                         (!port->readStuck || IoEnded(port->readEvent));
    std::lock_guard<std::mutex> g(TheBackend().lock);
    auto& b = TheBackend();
    auto it = b.ports.find(h);
    if (!settled) {
        b.stranded.push_back(std::move(it->second));
    } else {
        ::CloseHandle(port->closeEvent);
        ::CloseHandle(port->readEvent);
        ::CloseHandle(port->writeEvent);
    }
    b.ports.erase(it);
    return true;
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

}  // namespace

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
    // Into the port's own buffer, which outlives a read the driver will not
    // cancel; copied out once the read is done.
    DWORD n = 0;
    const DWORD asked = static_cast<DWORD>(std::min(capacity, sizeof port->readBuffer));
    if (!::ReadFile(device, port->readBuffer, asked, &n, &ov)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            return FailedRead(*port, device, error, 0);
        }
        if (!WaitForIo(*port, ov.hEvent)) {
            return AbandonRead(*port);
        }
        if (!::GetOverlappedResult(device, &ov, &n, FALSE)) {
            const DWORD error = ::GetLastError();
            const long taken = FailedRead(*port, device, error, n);
            if (taken > 0) {
                std::memcpy(buffer, port->readBuffer, static_cast<std::size_t>(taken));
            }
            return taken;
        }
    }
    std::memcpy(buffer, port->readBuffer, n);
    return static_cast<long>(n);
}

}  // namespace
