// The Win32 serial backend's own record of a COM port and its table of open
// ports, shared by the backend's files: opening, configuring and a port's
// options (serial_port.cpp), writing and draining (port_write.cpp), the
// receive worker's reads (port_receive.cpp) and closing (port_close.cpp).
// Nothing outside serial/win32/ includes it.
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
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/win32/win32.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "serial/serial_port.h"

namespace comport {

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
    std::mutex lock;  // guards the tables; a port lives until its worker has ended
    std::map<PortHandle, std::unique_ptr<Port>> ports;
    // Ports whose worker did not end on close: kept, device open, for the
    // life of the process, since the worker may still touch them.
    std::vector<std::unique_ptr<Port>> stranded;
};

// The process's one table of ports.
Backend& TheBackend();

// The open port of handle h, or nullptr. The port stays valid until
// ClosePort has taken it out of the table.
Port* FindPort(PortHandle h);

inline HANDLE DeviceOf(PortHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// The system's words for this thread's GetLastError().
std::string LastErrorText();

// How long a cancelled operation is given to say it has ended.
inline constexpr DWORD kCancelWaitMs = 500;

// Whether an operation that was told to end has done so, within the
// cancel's moment.
bool IoEnded(HANDLE ioEvent);

}  // namespace comport
