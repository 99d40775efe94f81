// The pseudo-terminal that target-sim serves.
#include "tools/target_sim/posix/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::string Failure(const char* what, const std::string& object) {
    return std::string(what) + (object.empty() ? "" : " " + object) + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

PtyServer::~PtyServer() {
    Close();
}

bool PtyServer::Open(std::string* error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        *error = Failure("creating a pseudo-terminal", "");
        return false;
    }
    char name[128];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        *error = Failure("preparing the pseudo-terminal's slave", "");
        Close();
        return false;
    }
    m_slavePath = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        *error = Failure("opening", m_slavePath);
        Close();
        return false;
    }
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0) {
        *error = Failure("reading the settings of", m_slavePath);
        Close();
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        *error = Failure("setting raw mode on", m_slavePath);
        Close();
        return false;
    }
    const int flags = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, flags | O_NONBLOCK);

    // Watching is a convenience (a new session after the tool reopens the
    // port); a machine without inotify still serves one session per run.
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && inotify_add_watch(m_watch, name, IN_CLOSE_WRITE) < 0) {
        CloseFd(m_watch);
    }
    return true;
}

long PtyServer::Read(std::uint8_t* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = read(m_master, buffer, capacity);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        return -1;
    }
}

bool PtyServer::TakeHostClosed() {
    if (m_watch < 0) {
        return false;
    }
    bool closed = false;
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = read(m_watch, events, sizeof events);
        if (n <= 0) {
            return closed;
        }
        closed = true;  // IN_CLOSE_WRITE is all we watch for
    }
}

bool PtyServer::WriteNow(const std::uint8_t* bytes, std::size_t n, int stopFd) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = write(m_master, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        // The tool is not reading: wait for room, or to be stopped.
        pollfd fds[2] = {{m_master, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
    }
    return true;
}

bool PtyServer::WaitUntilRead(int limitMs, int stopFd) {
    // The terminal's input queue is one for every opener of its side: ours
    // sees what the tool has not read yet.
    for (int waited = 0; waited < limitMs; ++waited) {
        int waiting = 0;
        if (m_slave < 0 || ioctl(m_slave, TIOCINQ, &waiting) != 0 || waiting == 0) {
            return true;
        }
        pollfd p{stopFd, POLLIN, 0};
        if (poll(&p, 1, 1) > 0) {
            return false;
        }
    }
    return true;
}

bool PtyServer::Write(const std::uint8_t* bytes, std::size_t n, unsigned baud, int stopFd) {
    if (baud == 0) {
        return WriteNow(bytes, n, stopFd);
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto perByte = std::chrono::nanoseconds(10'000'000'000LL / baud);
    for (std::size_t i = 0; i < n; ++i) {
        // A byte is there for the reader once its last bit has arrived.
        std::this_thread::sleep_until(start + perByte * static_cast<long>(i + 1));
        if (!WriteNow(bytes + i, 1, stopFd)) {
            return false;
        }
    }
    return true;
}

bool PtyServer::HoldOutput(bool held, std::string* error) {
    // Output suspended on the slave's terminal, as XOFF would: what the
    // tool writes there waits, and a non-blocking write finds no room.
    if (tcflow(m_slave, held ? TCOOFF : TCOON) != 0) {
        *error = Failure(held ? "holding the output of" : "releasing the output of", m_slavePath);
        return false;
    }
    return true;
}

void PtyServer::Close() {
    CloseFd(m_watch);
    CloseFd(m_slave);
    CloseFd(m_master);
}
