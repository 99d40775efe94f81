// The POSIX serial backend: the receive worker's thread and its reads, which
// poll() the tty and the port's wake descriptor, so that a waiting worker
// uses no CPU and ClosePort can end its wait.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "serial/in_frame.h"
#include "serial/port_errors.h"
#include "serial/posix/tty_port.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"

using ttyport::Clock;
using ttyport::FindPort;
using ttyport::MsUntil;
using ttyport::Port;

namespace {

void DrainWake(int wakeFd) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t r = read(wakeFd, &count, sizeof count);
}

// One non-blocking read after poll() reported the device. Returns bytes
// read, 0 when nothing was there after all, -1 when the device is gone.
long ReadSome(const Port& port, short revents, std::uint8_t* buffer, std::size_t capacity) {
    const bool gone = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if ((revents & POLLIN) == 0) {
        return gone ? -1 : 0;
    }
    for (;;) {
        const ssize_t n = read(port.fd, buffer, capacity);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return gone ? -1 : 0;
        }
        // End of file on a tty means its other side hung up; EIO likewise.
        return -1;
    }
}

}  // namespace

std::uintptr_t StartReceiveWorker(WorkerParams* params) {
    std::unique_ptr<WorkerParams> owned(params);
    if (params == nullptr) {
        return 0;
    }
    std::shared_ptr<Port> port = FindPort(params->port);
    if (port == nullptr || port->worker.joinable()) {
        return 0;
    }
    port->params = std::move(owned);
    try {
        port->worker = std::thread([params] { ReceiveWorker(params); });
    } catch (const std::system_error& e) {
        // No thread to be had (a process at its limit): the port cannot be
        // listened on, which the scan takes as a failed open.
        port->params.reset();
        NoteOpenError(std::string("starting the receive worker: ") + e.what());
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(port.get());
}

namespace {

// The first character: waits as long as it takes. Returns the number of
// bytes read (at least 1), 0 when the wake descriptor ended the wait, or -1
// when the port is closing or the device is gone.
long ReadFirst(Port& port, pollfd (&fds)[2], std::uint8_t* buffer, std::size_t capacity) {
    long got = 0;
    while (got == 0) {
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (port.closing) {
            return -1;
        }
        if (fds[1].revents != 0) {
            DrainWake(port.wakeFd);
            return 0;
        }
        got = ReadSome(port, fds[0].revents, buffer, capacity);
        if (got < 0) {
            return -1;  // a hang-up is reported, never waited on again
        }
    }
    return got;
}

// Then the rest of the reply after the `got` bytes in the buffer, until the
// line goes quiet, the buffer is full or the whole read has taken too long.
// Returns the number of bytes in the buffer, or -1 when the port is closing.
long ReadRest(Port& port, pollfd (&fds)[2], std::uint8_t* buffer, std::size_t capacity, long got) {
    const PortTimeouts timeouts = port.Timeouts();
    const auto deadline = Clock::now() + timeouts.ReadTotal(capacity);
    const int interval = static_cast<int>(timeouts.readIntervalTimeout);
    const bool fast = port.fastFrames && port.framed;
    while (static_cast<std::size_t>(got) < capacity) {
        if (fast && HoldsWholeInFrame(buffer, static_cast<std::size_t>(got))) {
            break;  // no need to wait out the silence
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            break;
        }
        const int r = poll(fds, 2, std::min(interval, left));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;  // silence longer than the interval
        }
        if (port.closing) {
            return -1;
        }
        if (fds[1].revents != 0) {
            DrainWake(port.wakeFd);
            continue;
        }
        const long n =
            ReadSome(port, fds[0].revents, buffer + got, capacity - static_cast<std::size_t>(got));
        if (n < 0) {
            break;  // deliver what came before the hang-up; the next read reports it
        }
        got += n;
    }
    return got;
}

long ReadOnce(Port& port, std::uint8_t* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    pollfd fds[2] = {{port.fd, POLLIN, 0}, {port.wakeFd, POLLIN, 0}};
    const long got = ReadFirst(port, fds, buffer, capacity);
    if (got <= 0) {
        return got;
    }
    return ReadRest(port, fds, buffer, capacity, got);
}

}  // namespace

long ReadPort(PortHandle h, std::uint8_t* buffer, std::size_t capacity) {
    std::shared_ptr<Port> port = FindPort(h);
    if (port == nullptr || port->closing) {
        return -1;
    }
    const long n = ReadOnce(*port, buffer, capacity);
    if (n < 0 && !port->closing) {
        port->lost = true;
    }
    return n;
}
