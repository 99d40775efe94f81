// The POSIX serial backend: writing to a tty, each write bounded by its
// write total, and waiting for what was written to leave for the line.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "serial/port_errors.h"
#include "serial/posix/tty_port.h"
#include "serial/serial_port.h"

using std::chrono::milliseconds;
using ttyport::BitsPerSecond;
using ttyport::Clock;
using ttyport::FindPort;
using ttyport::MsUntil;
using ttyport::Port;

namespace {

std::string TimedOut(milliseconds total, std::size_t taken, std::size_t n) {
    return "timed out after " + std::to_string(total.count()) + " ms (" + std::to_string(taken) +
           " of " + std::to_string(n) + " bytes taken)";
}

// The output queue is full (flow control, or a slow line): waits for
// room, but no longer than the write may take in all, whatever poll() says
// (a driver may report room and then refuse it again), and looks at the
// port's abort flag every 100 ms. True when the write is to be tried
// again; false, with LastWriteError() saying why, when it is given up.
bool WaitForRoom(const Port& port, Clock::time_point deadline, milliseconds total, std::size_t done,
                 std::size_t n) {
    if (AbortIsSet(port.abortFlag.load())) {
        NoteWriteError("given up: interrupted (" + std::to_string(done) + " of " +
                       std::to_string(n) + " bytes taken)");
        return false;
    }
    const int left = MsUntil(deadline);
    if (left == 0) {
        NoteWriteError(TimedOut(total, done, n));
        return false;
    }
    pollfd p{port.fd, POLLOUT, 0};
    const int r = poll(&p, 1, std::min(left, kAbortCheckMs));
    if (r < 0 && errno != EINTR) {
        NoteWriteError(std::strerror(errno));
        return false;
    }
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        NoteWriteError("the device has gone (hung up)");
        return false;
    }
    return true;
}

}  // namespace

bool WritePort(PortHandle h, const std::uint8_t* bytes, std::size_t n) {
    std::shared_ptr<Port> port = FindPort(h);
    if (port == nullptr || port->closing) {
        NoteWriteError("the port is not open");
        return false;
    }
    const milliseconds total = port->Timeouts().WriteTotal(n);
    const auto deadline = Clock::now() + total;
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = write(port->fd, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            NoteWriteError(std::strerror(errno));  // the device is gone, or refuses
            return false;
        }
        if (!WaitForRoom(*port, deadline, total, done, n)) {
            return false;
        }
    }
    return true;
}

bool DrainPort(PortHandle h) {
    std::shared_ptr<Port> port = FindPort(h);
    if (port == nullptr || port->closing) {
        NoteWriteError("the port is not open");
        return false;
    }
    int queued = 0;
    if (ioctl(port->fd, TIOCOUTQ, &queued) != 0) {
        NoteWriteError(std::string("TIOCOUTQ: ") + std::strerror(errno));
        return false;
    }
    if (queued <= 0) {
        return true;
    }
    // As long as sending what is queued takes at the port's rate, twice
    // over, and 100 ms more.
    const auto bound = milliseconds(100 + 2 * 10'000LL * queued / BitsPerSecond(port->speed));
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
        poll(nullptr, 0, 2);
        if (ioctl(port->fd, TIOCOUTQ, &queued) != 0) {
            NoteWriteError(std::string("TIOCOUTQ: ") + std::strerror(errno));
            return false;
        }
        if (queued <= 0) {
            return true;
        }
    }
    NoteWriteError("the output did not drain in " + std::to_string(bound.count()) + " ms (" +
                   std::to_string(queued) + " bytes still queued)");
    return false;
}
