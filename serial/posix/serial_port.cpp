// The POSIX serial backend: tty devices driven through termios, read with
// poll() so that a waiting worker uses no CPU and can be woken to end. Here
// the table of open ports, opening and configuring a port, and its options;
// the port's record is in tty_port.h.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "serial/configure_errors.h"
#include "serial/port_errors.h"
#include "serial/posix/tty_port.h"

namespace ttyport {

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

int MsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

int BitsPerSecond(speed_t speed) {
    return speed == B57600 ? 57600 : 9600;
}

}  // namespace ttyport

using ttyport::Backend;
using ttyport::FindPort;
using ttyport::Port;
using ttyport::TheBackend;

namespace {

PortHandle FailOpen(int fd, const std::string& reason) {
    if (fd >= 0) {
        close(fd);
    }
    NoteOpenError(reason);
    return kInvalidPort;
}

speed_t SpeedFor(std::uint32_t baud) {
    return baud == 57600 ? B57600 : B9600;
}

std::string ErrnoText() {
    return std::strerror(errno);
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
