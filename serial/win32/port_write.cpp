// Serial ports on Win32: writing to a COM port, each write bounded by its
// write total, and waiting for what was written to leave for the line.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/win32/win32.h"
#include "serial/port_errors.h"
#include "serial/serial_port.h"
#include "serial/win32/com_port.h"

using comport::DeviceOf;
using comport::FindPort;
using comport::IoEnded;
using comport::Port;

namespace {

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

// What a write's timeout ends it with where the driver reports it as a
// failure rather than as fewer bytes written.
bool IsTimeout(DWORD error) {
    return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT || error == WAIT_TIMEOUT ||
           error == ERROR_COUNTER_TIMEOUT;
}

// The port a write or a drain may use: nullptr, with LastWriteError()
// saying why, when it is not open or an earlier write of it never ended.
Port* WritablePort(PortHandle h) {
    Port* port = FindPort(h);
    if (port == nullptr) {
        NoteWriteError("the port is not open");
        return nullptr;
    }
    if (port->writeStuck) {
        NoteWriteError(kStuckWrite);
        return nullptr;
    }
    return port;
}

// The record and the bytes are the port's, so that a write the driver will
// not let go of within our bound can be left to it.
void PrepareWrite(Port& port, const std::uint8_t* bytes, std::size_t n) {
    port.writeBuffer.assign(bytes, bytes + n);
    port.writeOv = OVERLAPPED{};
    port.writeOv.hEvent = port.writeEvent;
    ::ResetEvent(port.writeEvent);
}

enum class WriteWait { Ended, Unfinished, Aborted };

// Waits for a pending write no longer than the write timeouts allow and
// kWriteGraceMs more, in slices, so that the port's abort flag is seen
// within 100 ms. Ended: the driver has ended the write, in whatever way.
WriteWait WaitForWrite(Port& port, std::chrono::milliseconds total) {
    const ULONGLONG bound = static_cast<ULONGLONG>(total.count()) + kWriteGraceMs;
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (AbortIsSet(port.abortFlag.load())) {
            return WriteWait::Aborted;
        }
        const ULONGLONG waited = ::GetTickCount64() - start;
        if (waited >= bound) {
            return WriteWait::Unfinished;
        }
        const auto slice = static_cast<DWORD>(std::min<ULONGLONG>(kAbortCheckMs, bound - waited));
        const DWORD r = ::WaitForSingleObject(port.writeEvent, slice);
        if (r != WAIT_TIMEOUT) {
            return r == WAIT_OBJECT_0 ? WriteWait::Ended : WriteWait::Unfinished;
        }
    }
}

// Cancels a write that has not ended and gives the cancel a bounded moment.
// False when the driver did not end it even so: it still owns the record
// and the bytes, which stay with the port, and the port takes no further
// write.
bool CancelWrite(Port& port, HANDLE device, bool aborted, std::chrono::milliseconds total) {
    ::CancelIoEx(device, &port.writeOv);
    if (IoEnded(port.writeEvent)) {
        return true;
    }
    port.writeStuck = true;
    const std::string what = aborted ? "given up: interrupted"
                                     : "timed out after " + std::to_string(total.count()) + " ms";
    NoteWriteError(what + ", and the driver did not end the write when told to cancel it");
    return false;
}

// What an ended write took: true when all n bytes, even if the abort came
// meanwhile; otherwise false, and LastWriteError() says why.
bool FinishWrite(Port& port, HANDLE device, std::size_t n, std::chrono::milliseconds total,
                 bool aborted) {
    DWORD written = 0;
    const bool ok = ::GetOverlappedResult(device, &port.writeOv, &written, FALSE) != FALSE;
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (ok && written == n) {
        return true;
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

}  // namespace

// Waits no longer than the write timeouts allow (and a little more), then
// cancels, and gives the cancel a bounded moment.
bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    Port* port = WritablePort(h);
    if (port == nullptr) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    HANDLE device = DeviceOf(h);
    PrepareWrite(*port, bytes, n);
    const auto total = port->timeouts.WriteTotal(n);
    bool aborted = false;
    if (!::WriteFile(device, port->writeBuffer.data(), static_cast<DWORD>(n), nullptr,
                     &port->writeOv)) {
        if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
            NoteWriteError(win32::SystemMessage(error));
            return false;
        }
        const WriteWait wait = WaitForWrite(*port, total);
        aborted = wait == WriteWait::Aborted;
        if (wait != WriteWait::Ended && !CancelWrite(*port, device, aborted, total)) {
            return false;
        }
    }
    return FinishWrite(*port, device, n, total, aborted);
}

bool DrainPort(PortHandle h) {
    Port* port = WritablePort(h);
    if (port == nullptr) {
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
