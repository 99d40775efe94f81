// The POSIX serial backend's own record of a tty port and its table of open
// ports, shared by the backend's files: opening, configuring and a port's
// options (serial_port.cpp), writing and draining (port_write.cpp), the
// receive worker's reads (port_receive.cpp) and closing (port_close.cpp).
// Nothing outside serial/posix/ includes it.
//
// A port's handle is a number of the table's own, never reused. The table
// holds each port by a shared pointer, and every call takes its own copy:
// the port is only destroyed, and its descriptors closed, when ClosePort
// has joined its worker and no call uses it any longer.
#pragma once

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serial/receive_worker.h"
#include "serial/serial_port.h"

namespace ttyport {

using Clock = std::chrono::steady_clock;

struct Port {
    Port(int device, int wake) : fd(device), wakeFd(wake) {}
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // The descriptors go last of all: by then the worker has been joined,
    // and no read can be in flight on them.
    ~Port() {
        // Lift the exclusive mode we set: it belongs to the tty, not to our
        // descriptor, and would outlive us where someone else keeps the
        // device open (a pseudo-terminal's other side).
        ioctl(fd, TIOCNXCL);
        close(fd);
        close(wakeFd);
    }

    const int fd;
    const int wakeFd;  // eventfd: written once by ClosePort to end a wait
    // The settings the port had when we opened it, put back on close.
    termios saved{};
    bool haveSaved = false;
    speed_t speed = B9600;  // as configured, for draining the output on close
    std::atomic<bool> closing{false};
    std::atomic<bool> framed{false};  // the machine speaks in frames
    std::atomic<bool> lost{false};    // a read found the device gone
    // The port's options (SetPortOptions), one atomic each: the worker's
    // reads look at fastFrames while the user-interface thread may set them.
    std::atomic<bool> fastFrames{false};
    std::atomic<const std::atomic<int>*> abortFlag{nullptr};
    std::thread worker;
    std::unique_ptr<WorkerParams> params;

    // What reads and writes are timed by. ConfigurePort sets them on the
    // user-interface thread; the worker's reads take a copy.
    PortTimeouts Timeouts() const {
        std::lock_guard<std::mutex> g(timeoutsLock);
        return timeouts;
    }
    void SetTimeouts(const PortTimeouts& t) {
        std::lock_guard<std::mutex> g(timeoutsLock);
        timeouts = t;
    }

  private:
    mutable std::mutex timeoutsLock;
    PortTimeouts timeouts = kUnconfiguredTimeouts;
};

struct Backend {
    std::mutex lock;  // guards ports
    std::map<PortHandle, std::shared_ptr<Port>> ports;
    PortHandle nextHandle = 1;
};

// The process's one table of ports.
Backend& TheBackend();

// The open port of handle h, or nullptr.
std::shared_ptr<Port> FindPort(PortHandle h);

// Milliseconds left until `deadline`, rounded up so a wait never ends early.
int MsUntil(Clock::time_point deadline);

// The line rate of a configured speed, for bounding a drain.
int BitsPerSecond(speed_t speed);

}  // namespace ttyport
