// Serial ports: the list a scan tries, opening and configuring a port for a
// machine type, writing to it, and the receive worker's reads.
//
// Principles of operation
// -----------------------
// One header, three implementations chosen by the build:
//   serial/win32/   overlapped I/O on COM devices;
//   serial/posix/   termios on tty devices;
//   serial/memory/  in-memory lines on the headless clock, for tests.
//
// A port is named by a handle. 0 means no port; kInvalidPort is what a
// failed open returns. Closing either does nothing.
//
// Threads. OpenPortByName, ConfigurePort, SetPortOptions, WritePort,
// StartReceiveWorker and ClosePort belong to the thread that owns the
// port's window: the user-interface thread, or a station position's window
// thread (framework/window_thread.h), several of which use ports of their
// own at the same time. ReadPort belongs to the port's receive worker,
// which runs on its own thread (receive_worker.h). The reasons of the
// Last...Error() calls are kept per thread: each says why the last such
// call of the calling thread failed, whatever other threads did meanwhile.
//
// Line settings for a machine type (PortSettingsFor): its baud rate (9600
// or 57600), 8 data bits, no parity; stop bits, flow control and every
// other field stay as the port had them. Both queues are purged. Writes are
// bounded by 100 ms per byte plus 100 ms (port_timeouts.h).
//
// A port is left as it was found: opening it saves its settings (termios;
// the DCB, timeouts and event mask on Windows) and closing it puts them
// back, as terminal programs do, so the next program to use the port finds
// it as it was before us.
//
// Reads. ReadPort waits, using no CPU, for a first character; then it reads
// until 255 bytes have come, or the line has been silent for longer than the
// machine type's interval timeout (70 ms or 20 ms), or 100 ms per byte asked
// plus 100 ms have passed. So a reply sent without pauses arrives as one read.
//
// Closing. ClosePort ends the port's worker before it releases the port: it
// clears the worker's run flag, takes back a hand-over the worker has in
// flight (framework/handover.h), wakes the worker's read, waits for the
// thread to end and frees its WorkerParams. Only then is the device closed,
// so no worker ever reads a port that has been closed, nor one opened
// later under the same handle.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/machine_types.h"
#include "serial/port_timeouts.h"

using PortHandle = std::intptr_t;
inline constexpr PortHandle kNoPort = 0;
inline constexpr PortHandle kInvalidPort = -1;

struct WorkerParams;

// The platform's list of ports a scan tries, in order, read afresh at each
// call (on Linux the serial ports present first, then the fixed names;
// serial/port_discovery.h), at most 255 names. A dialog given its own list
// (CDownloadDlg::SetPorts) tries that instead.
std::vector<std::string> PortList();
// A scan's port index is one byte: a list of ports to try keeps its first
// 255 names (PortList's, and a dialog's own).
std::vector<std::string> CapPortList(std::vector<std::string> names);
std::vector<std::string> DefaultPortList();
// The sixteen COM port names of a Windows machine, "COM1" to "COM9" and
// "\\.\COM10" to "\\.\COM16": the Windows backend's list, and the
// in-memory one's, which stands in for it in tests.
std::vector<std::string> ComPortNames();
// The name that opens COM port `number`: "COM3", "\\.\COM12".
std::string ComPortName(unsigned number);

// Opens the named device for exclusive reading and writing. Returns the
// handle, or kInvalidPort when the device does not exist, is in use or
// cannot be opened. LastOpenError() then says why, in the system's words.
PortHandle OpenPortByName(const std::string& name);
std::string LastOpenError();

// What ConfigurePort asks of a port for a machine type, the same for every
// backend; each applies what its platform has (the event mask and queue
// sizes are Windows' own settings; the POSIX backend times its reads and
// writes itself by the timeouts).
struct PortSettings {
    std::uint32_t baudRate = 0;               // 9600 or 57600
    std::uint8_t dataBits = 0;                // 8
    std::uint8_t parity = 0;                  // 0: none
    std::uint32_t eventMask = 0;              // EV_RXCHAR (1): a character was received
    std::uint32_t inQueue = 0, outQueue = 0;  // driver queue sizes, 1024 each
    std::uint32_t purge = 0;                  // 0x0F: abort and clear both ways
    PortTimeouts timeouts;                    // port_timeouts.h
};
// False for an unknown machine type.
bool PortSettingsFor(MachineType type, PortSettings* settings);

// Sets the port up for the machine type, call by call in a fixed order.
// Returns false when the port or type is unknown or a call failed; the
// calls after a failed one are still made where they do not depend on it,
// so the port gets as close to the settings as it can. LastConfigureError()
// then names the first call that failed and gives the system's reason, as
// "tcsetattr: Input/output error" or "SetCommState: The parameter is
// incorrect"; it is empty after a configuration that went through. The
// window ignores the result (its status line has no text for it); it is
// there for download-cli to report.
bool ConfigurePort(PortHandle port, MachineType type);
std::string LastConfigureError();

// Writes n bytes (n may be 0). Returns true when all were taken by the
// driver within the write total (port_timeouts.h); false when the port is
// unknown or closing, the device refused them, or the time ran out (a line
// held by flow control), and LastWriteError() then says why: the system's
// words, or "timed out after 13400 ms (5 of 133 bytes taken)". Never waits
// longer than the write total plus a second. The bytes need live only for
// the call.
bool WritePort(PortHandle port, const std::uint8_t* bytes, std::size_t n);
// Waits until everything written to the port has left the driver for the
// line, no longer than sending it takes at the port's rate twice over
// plus 100 ms. False, with LastWriteError() saying why, when it has not
// by then or the port is unknown or gone. A port with nothing queued
// returns at once.
bool DrainPort(PortHandle port);
// Why the last WritePort or DrainPort of this thread failed.
std::string LastWriteError();

// Starts the receive worker for params->port and gives the port the worker
// and its params; ClosePort ends the one and frees the other. Returns a
// nonzero marker of the thread that was started, or 0 when none could be
// (params are freed then, and LastOpenError() says why; the port stays
// open, for ClosePort).
std::uintptr_t StartReceiveWorker(WorkerParams* params);

// Ends the port's worker and closes the port. Every wait in it is bounded:
// a worker that has not ended within kWorkerEndMs is left alone, with the
// device, the worker's params and everything else it may still touch kept
// for the life of the process, and ClosePort returns false, with
// LastCloseError() saying so. Closing kNoPort, kInvalidPort or an unknown
// handle does nothing and returns true.
bool ClosePort(PortHandle port);
std::string LastCloseError();
inline constexpr int kWorkerEndMs = 5000;

// True once a read or write has found the device gone (a USB adapter
// pulled, the far end of a pseudo-terminal closed). The port stays open
// until ClosePort; nothing more will come from it.
bool PortIsLost(PortHandle port);

// A port's own options, set by whoever opened it, before its worker starts
// (SetPortOptions); every port starts with the defaults. They belong to the
// one port: several ports open at once, each a position of its own, never
// see each other's.
//
// fastFrames (off by default, never the window's choice): for the framed
// machines a read also ends as soon as the bytes read hold a whole inbound
// frame, trailing byte included, instead of after the interval timeout's
// silence. Backends that cannot do this ignore it.
//
// abortFlag (download-cli's Ctrl+C and SIGTERM; nullptr, the default, never
// aborts): once *abortFlag is nonzero, a write to this port that is waiting
// for room on the line gives up within kAbortCheckMs and returns false, with
// LastWriteError() "given up: interrupted (...)", instead of waiting out its
// bound (100 ms a byte plus 100 ms, some 13 s for a block). The flag is only
// read, from any thread; a signal handler may set it. It must outlive the
// port. Reads need no such flag: closing the port ends them.
struct PortOptions {
    bool fastFrames = false;
    const std::atomic<int>* abortFlag = nullptr;
};
// Replaces the port's options; an unknown handle, kNoPort or kInvalidPort is
// ignored. Safe while the port's worker reads, which then goes on with the
// old setting or the new.
void SetPortOptions(PortHandle port, const PortOptions& options);
// How often a waiting write looks at its port's abort flag.
inline constexpr int kAbortCheckMs = 100;
// Whether an abort flag is set: for the backends.
inline bool AbortIsSet(const std::atomic<int>* flag) {
    return flag != nullptr && flag->load() != 0;
}

// The receive worker's read of up to `capacity` bytes, as above. Returns the
// number of bytes read (at least 1), 0 when the wait ended with nothing to
// read, or -1 when the port has been closed or the device is gone.
long ReadPort(PortHandle port, std::uint8_t* buffer, std::size_t capacity);
