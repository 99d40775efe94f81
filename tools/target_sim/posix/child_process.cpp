// Starting, reading and stopping a helper process.
#include "tools/target_sim/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (Running()) {
        Stop();
    }
}

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    if (Running() || argv.empty()) {
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(fds[1], STDOUT_FILENO);  // dup2 clears close-on-exec on the copy
        close_range(3, ~0U, 0);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    m_pid = pid;
    m_out = fds[0];
    m_buffered.clear();
    return true;
}

std::string ChildProcess::ReadLine(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto newline = m_buffered.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffered.substr(0, newline);
            m_buffered.erase(0, newline + 1);
            return line;
        }
        if (m_out < 0) {
            return {};
        }
        pollfd p{m_out, POLLIN, 0};
        const int ready = poll(&p, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return {};
        }
        char chunk[256];
        const ssize_t n = read(m_out, chunk, sizeof chunk);
        if (n <= 0) {
            return {};
        }
        m_buffered.append(chunk, static_cast<std::size_t>(n));
    }
}

int ChildProcess::Stop(std::string* output, int timeoutMs) {
    if (!Running()) {
        return -1;
    }
    kill(m_pid, SIGTERM);
    return Wait(output, timeoutMs);
}

int ChildProcess::Wait(std::string* output, int timeoutMs) {
    if (!Running()) {
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Read until the child closes its end, so that its last words are kept.
    while (m_out >= 0) {
        pollfd p{m_out, POLLIN, 0};
        const int ready = poll(&p, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char chunk[256];
        const ssize_t n = ready > 0 ? read(m_out, chunk, sizeof chunk) : 0;
        if (n <= 0) {
            close(m_out);
            m_out = -1;
            break;
        }
        m_buffered.append(chunk, static_cast<std::size_t>(n));
    }
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(m_pid, &status, WNOHANG)) == 0) {
        if (MsLeft(deadline) == 0) {
            kill(m_pid, SIGKILL);
            reaped = waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    if (output) {
        *output = m_buffered;
    }
    m_buffered.clear();
    return reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
