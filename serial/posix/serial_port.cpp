// The POSIX serial backend: tty devices driven through termios, read with
// poll() so that a waiting worker uses no CPU and can be woken to end.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "serial/configure_errors.h"
#include "serial/in_frame.h"
#include "serial/receive_worker.h"
#include "serial/write_error.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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
    std::mutex lock;  // guards ports and lastError
    std::map<PortHandle, std::shared_ptr<Port>> ports;
    PortHandle nextHandle = 1;
    std::string lastError;
};

Backend& TheBackend() {
    static Backend backend;
    return backend;
}

std::shared_ptr<Port> FindPort(PortHandle h) {
    Backend& b = TheBackend();
    std::lock_guard<std::mutex> g(b.lock);
    auto it = b.ports.find(h);
    return it == b.ports.end() ? nullptr : it->second;
}

PortHandle FailOpen(int fd, const std::string& reason) {
    if (fd >= 0) {
        close(fd);
    }
    Backend& b = TheBackend();
    std::lock_guard<std::mutex> g(b.lock);
    b.lastError = reason;
    return kInvalidPort;
}

// Milliseconds left until `deadline`, rounded up so a wait never ends early.
int MsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

speed_t SpeedFor(std::uint32_t baud) {
    return baud == 57600 ? B57600 : B9600;
}

int BitsPerSecond(speed_t speed) {
    return speed == B57600 ? 57600 : 9600;
}

// Waits until what was written has left the driver, no longer than it
// takes to send at the configured rate with room to spare: settings put
// back while the last bytes still go out would garble them.
void DrainOutput(const Port& port) {
    int queued = 0;
    if (ioctl(port.fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        return;
    }
    const auto bound = milliseconds(100 + 2 * 10'000LL * queued / BitsPerSecond(port.speed));
    const auto deadline = Clock::now() + bound;
    while (ioctl(port.fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
        poll(nullptr, 0, 5);
    }
}

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

PortHandle OpenPortByName(const std::string& name) {
    // Never become the controlling terminal, and never wait for a carrier.
    const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return FailOpen(-1, std::strerror(errno));
    }
    if (!isatty(fd)) {
        return FailOpen(fd, "Not a serial device");
    }
    // Exclusive use. The lock is what other programs that share a port
    // politely check; TIOCEXCL makes the kernel refuse them even if they do
    // not, except for root, which it lets through.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        return FailOpen(fd, std::strerror(err));
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        return FailOpen(fd, std::strerror(errno));
    }
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        const int err = errno;
        ioctl(fd, TIOCNXCL);
        return FailOpen(fd, std::strerror(err));
    }
    auto port = std::make_shared<Port>(fd, wake);
    port->haveSaved = tcgetattr(fd, &port->saved) == 0;
    Backend& b = TheBackend();
    std::lock_guard<std::mutex> g(b.lock);
    const PortHandle h = b.nextHandle++;
    b.ports[h] = std::move(port);
    return h;
}

std::string LastOpenError() {
    Backend& b = TheBackend();
    std::lock_guard<std::mutex> g(b.lock);
    return b.lastError;
}

namespace {

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace

bool ConfigurePort(PortHandle h, MachineType type) {
    ConfigureErrors errors(ErrnoText);
    PortSettings wanted;
    std::shared_ptr<Port> port = FindPort(h);
    if (!errors.Wanted(port != nullptr, type, &wanted)) {
        return errors.Finish();
    }
    const MachineTypeInfo* info = FindMachineType(type);
    port->SetTimeouts(wanted.timeouts);
    port->framed = info->protocol == ProtocolKind::FramedProtocol;

    termios tio{};
    if (!errors.Check(tcgetattr(port->fd, &tio) == 0, "tcgetattr")) {
        return errors.Finish();  // nothing to change settings from
    }
    // Raw bytes both ways, as on a COM port: no line editing, echo,
    // signals, or CR/LF and parity-mark translation. Software flow control
    // goes too: a Linux tty starts with IXON on, where a COM port starts
    // without, and it would swallow 0x11 and 0x13 - block numbers 17 and 19
    // of the block protocol. Stop bits and RTS/CTS stay as the port had them.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IUCLC | IMAXBEL | INPCK | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    // 8 data bits, no parity. CREAD so that anything is received at all;
    // CLOCAL because a COM port does not make reads depend on the carrier
    // line, and a carrier drop must not hang up the download.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads are non-blocking and timed by poll(), not by the driver.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedFor(wanted.baudRate);
    errors.Check(cfsetispeed(&tio, speed) == 0, "cfsetispeed");
    errors.Check(cfsetospeed(&tio, speed) == 0, "cfsetospeed");
    if (errors.Check(tcsetattr(port->fd, TCSANOW, &tio) == 0, "tcsetattr")) {
        port->speed = speed;
    }
    errors.Check(tcflush(port->fd, TCIOFLUSH) == 0, "tcflush");
    return errors.Finish();
}

namespace {

std::string TimedOut(milliseconds total, std::size_t taken, std::size_t n) {
    return "timed out after " + std::to_string(total.count()) + " ms (" + std::to_string(taken) +
           " of " + std::to_string(n) + " bytes taken)";
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
        // The output queue is full (flow control, or a slow line): wait for
        // room, but no longer than the write may take in all, whatever
        // poll() says (a driver may report room and then refuse it again),
        // and look at the port's abort flag every 100 ms.
        if (AbortIsSet(port->abortFlag.load())) {
            NoteWriteError("given up: interrupted (" + std::to_string(done) + " of " +
                           std::to_string(n) + " bytes taken)");
            return false;
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            NoteWriteError(TimedOut(total, done, n));
            return false;
        }
        pollfd p{port->fd, POLLOUT, 0};
        const int r = poll(&p, 1, std::min(left, kAbortCheckMs));
        if (r < 0 && errno != EINTR) {
            NoteWriteError(std::strerror(errno));
            return false;
        }
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            NoteWriteError("the device has gone (hung up)");
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
        Backend& b = TheBackend();
        std::lock_guard<std::mutex> g(b.lock);
        b.lastError = std::string("starting the receive worker: ") + e.what();
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(port.get());
}

std::string LastCloseError() {
    return std::string();  // the worker's waits all end on the wake descriptor
}

bool ClosePort(PortHandle h) {
    if (h == kNoPort || h == kInvalidPort) {
        return true;
    }
    std::shared_ptr<Port> port = FindPort(h);
    if (port == nullptr) {
        return true;
    }
    port->closing = true;
    if (port->params) {
        port->params->run = 0;
        port->params->handOver.Revoke();
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(port->wakeFd, &one, sizeof one);
    if (port->worker.joinable()) {
        port->worker.join();
    }
    // Leave the port as we found it. A device that has gone refuses this,
    // and there is nobody left to tell.
    if (port->haveSaved) {
        DrainOutput(*port);
        tcsetattr(port->fd, TCSANOW, &port->saved);
    }
    {
        Backend& b = TheBackend();
        std::lock_guard<std::mutex> g(b.lock);
        b.ports.erase(h);
    }
    // Dropping the last reference closes the device (see ~Port).
    return true;
}

namespace {

long ReadOnce(Port& port, std::uint8_t* buffer, std::size_t capacity);

}  // namespace

void SetPortOptions(PortHandle h, const PortOptions& options) {
    if (std::shared_ptr<Port> port = FindPort(h)) {
        port->fastFrames = options.fastFrames;
        port->abortFlag = options.abortFlag;
    }
}

bool PortIsLost(PortHandle h) {
    std::shared_ptr<Port> port = FindPort(h);
    return port != nullptr && port->lost.load();
}

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

namespace {

long ReadOnce(Port& portRef, std::uint8_t* buffer, std::size_t capacity) {
    Port* port = &portRef;
    if (capacity == 0) {
        return 0;
    }
    pollfd fds[2] = {{port->fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}};

    // The first character: wait as long as it takes.
    long got = 0;
    while (got == 0) {
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (port->closing) {
            return -1;
        }
        if (fds[1].revents != 0) {
            DrainWake(port->wakeFd);
            return 0;
        }
        got = ReadSome(*port, fds[0].revents, buffer, capacity);
        if (got < 0) {
            return -1;  // a hang-up is reported, never waited on again
        }
    }

    // Then the rest of the reply, until the line goes quiet, the buffer is
    // full or the whole read has taken too long.
    const PortTimeouts timeouts = port->Timeouts();
    const auto deadline = Clock::now() + timeouts.ReadTotal(capacity);
    const int interval = static_cast<int>(timeouts.readIntervalTimeout);
    const bool fast = port->fastFrames && port->framed;
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
        if (port->closing) {
            return -1;
        }
        if (fds[1].revents != 0) {
            DrainWake(port->wakeFd);
            continue;
        }
        const long n =
            ReadSome(*port, fds[0].revents, buffer + got, capacity - static_cast<std::size_t>(got));
        if (n < 0) {
            break;  // deliver what came before the hang-up; the next read reports it
        }
        got += n;
    }
    return got;
}

}  // namespace
