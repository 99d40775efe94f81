// The benchmark's pseudo-terminals and relay.
#include "bench/posix/relay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

void WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

}  // namespace

void OpenPty(PtyServer& pty) {
    std::string error;
    if (!pty.Open(&error)) {
        std::fprintf(stderr, "e2e_bench: %s\n", error.c_str());
        std::exit(2);
    }
}

int OpenRaw(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        std::perror(("e2e_bench: " + device).c_str());
        std::exit(2);
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

Relay::Relay(int sender, int receiver, std::uint64_t firstMark, std::uint64_t lastMark)
    : m_sender(sender), m_receiver(receiver), m_first(firstMark), m_last(lastMark) {
    if (pipe2(m_stop, O_CLOEXEC) != 0) {
        std::perror("e2e_bench: pipe");
        std::exit(2);
    }
    m_thread = std::thread([this] { Run(); });
}

Relay::~Relay() {
    const char c = 0;
    (void)!write(m_stop[1], &c, 1);
    m_thread.join();
    close(m_stop[0]);
    close(m_stop[1]);
}

double Relay::DataPhase() const {
    std::lock_guard lock(m_mutex);
    return m_firstAt && m_lastAt ? std::chrono::duration<double>(*m_lastAt - *m_firstAt).count()
                                 : 0;
}

void Relay::Run() {
    for (;;) {
        pollfd fds[3] = {{m_sender, POLLIN, 0}, {m_receiver, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[2].revents) {
            return;
        }
        std::uint8_t buffer[4096];
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(m_sender, buffer, sizeof buffer);
            const auto now = Clock::now();
            if (n > 0) {
                WriteAll(m_receiver, buffer, static_cast<std::size_t>(n));
                std::lock_guard lock(m_mutex);
                const std::uint64_t before = m_sent;
                m_sent += static_cast<std::uint64_t>(n);
                if (!m_firstAt && before <= m_first && m_first < m_sent) {
                    m_firstAt = now;
                }
                if (!m_lastAt && m_sent >= m_last) {
                    m_lastAt = now;
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(m_receiver, buffer, sizeof buffer);
            if (n > 0) {
                WriteAll(m_sender, buffer, static_cast<std::size_t>(n));
            }
        }
        if ((fds[0].revents | fds[1].revents) & (POLLHUP | POLLERR | POLLNVAL)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no spin on a hang-up
        }
    }
}
