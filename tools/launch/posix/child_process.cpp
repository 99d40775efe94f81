// Starting, reading, waiting for and stopping a helper process.
#include "tools/launch/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace {

using Clock = ChildProcess::Clock;

Clock::time_point DeadlineAfter(std::chrono::milliseconds limit) {
    const auto now = Clock::now();
    if (limit >=
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now)) {
        return Clock::time_point::max();
    }
    return now + limit;
}

// The time left for poll: rounded up, so that a wait never ends early and
// then finds the deadline not quite reached; -1 (for ever) without one.
int MsLeft(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// The program a shell would run for `name`; empty when there is none.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// The descriptors a child's standard streams come from, opened before the
// fork so that a failure is ours to see; ours to close after it.
struct StreamSources {
    int fd[3] = {-1, -1, -1};        // the child's source for stdin, stdout, stderr; -1: ours
    int owned[3] = {-1, -1, -1};     // files opened for it
    int pipeOut = -1, pipeErr = -1;  // our ends
    int pipeChildEnds[2] = {-1, -1};

    bool Prepare(int index, const ChildProcess::Stream& s) {
        using Kind = ChildProcess::Stream::Kind;
        switch (s.kind) {
            case Kind::Ours:
                return true;
            case Kind::Descriptor:
                fd[index] = s.fd;
                errno = s.fd >= 0 ? errno : EBADF;
                return s.fd >= 0;
            case Kind::File:
                owned[index] = open(s.path.c_str(), s.flags | O_CLOEXEC, 0644);
                fd[index] = owned[index];
                return owned[index] >= 0;
            case Kind::Pipe: {
                int ends[2];
                if (index == 0) {
                    errno = EINVAL;
                    return false;
                }
                if (pipe2(ends, O_CLOEXEC) != 0) {
                    return false;
                }
                (index == 1 ? pipeOut : pipeErr) = ends[0];
                pipeChildEnds[index - 1] = ends[1];
                fd[index] = ends[1];
                return true;
            }
        }
        return false;
    }
    // After the fork (or a failure): the child's ends and files go.
    void CloseChildSide() {
        for (int& f : owned) {
            CloseFd(f);
        }
        for (int& f : pipeChildEnds) {
            CloseFd(f);
        }
    }
};

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(pid_t parent, int fds[3], const ChildProcess::Options& options,
                           const char* program, char* const* argv, int errorPipe) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    if (options.defaultSignals) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (const int sig : {SIGINT, SIGTERM, SIGPIPE}) {
            sigaction(sig, &defaults, nullptr);
        }
    }
    // Sources among 0 to 2 (a parent without standard streams of its own)
    // move out of the way first, so that leading one stream never
    // overwrites the source of another, or the error pipe.
    if (errorPipe < 3) {
        errorPipe = fcntl(errorPipe, F_DUPFD_CLOEXEC, 3);
    }
    for (int i = 0; i < 3; ++i) {
        if (fds[i] >= 0 && fds[i] < 3) {
            fds[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (fds[i] >= 0) {
            dup2(fds[i], i);  // dup2 clears close-on-exec on the copy
        }
    }
    int error = 0;
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) {
        error = errno;
    } else {
        // Nothing else of ours but the pipe that tells an exec failure,
        // which closes itself on a successful exec.
        if (errorPipe > 3) {
            close_range(3, static_cast<unsigned>(errorPipe) - 1, 0);
        }
        close_range(static_cast<unsigned>(errorPipe) + 1, ~0U, 0);
        execv(program, argv);
        error = errno;
    }
    (void)!write(errorPipe, &error, sizeof error);
    _exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (Running()) {
        Stop();
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}

bool ChildProcess::Start(const std::vector<std::string>& argv) {
    return Start(argv, Options{});
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const Options& options) {
    if (Running() || argv.empty()) {
        return false;
    }
    const std::string program = options.searchPath ? FindProgram(argv[0]) : argv[0];
    if (program.empty()) {
        errno = ENOENT;
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    StreamSources sources;
    int errorPipe[2] = {-1, -1};
    if (!sources.Prepare(0, options.in) || !sources.Prepare(1, options.out) ||
        !sources.Prepare(2, options.err) || pipe2(errorPipe, O_CLOEXEC) != 0) {
        const int reason = errno;
        sources.CloseChildSide();
        CloseFd(sources.pipeOut);
        CloseFd(sources.pipeErr);
        errno = reason;
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    const int forkError = errno;
    if (pid == 0) {
        RunChild(parent, sources.fd, options, program.c_str(), args.data(), errorPipe[1]);
    }
    sources.CloseChildSide();
    CloseFd(errorPipe[1]);
    // The pipe ends at the exec, or brings the reason it failed.
    int error = 0;
    ssize_t n = 0;
    if (pid > 0) {
        while ((n = read(errorPipe[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
    }
    CloseFd(errorPipe[0]);
    if (pid < 0 || n > 0) {
        const int reason = pid < 0 ? forkError : error;
        if (pid > 0) {
            waitpid(pid, nullptr, 0);
        }
        CloseFd(sources.pipeOut);
        CloseFd(sources.pipeErr);
        errno = reason;
        return false;
    }
    m_pid = pid;
    m_outFd = sources.pipeOut;
    m_errFd = sources.pipeErr;
    m_out.clear();
    m_err.clear();
    m_taken = 0;
    return true;
}

bool ChildProcess::Pump(Clock::time_point until) {
    if (PipesEnded()) {
        return false;
    }
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};  // poll skips a -1
    const int ready = poll(fds, 2, MsLeft(until));
    if (ready < 0 && errno == EINTR) {
        return true;
    }
    if (ready <= 0) {
        return false;
    }
    int* ends[2] = {&m_outFd, &m_errFd};
    std::string* texts[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(*ends[i], buffer, sizeof buffer);
        m_lastReadAt = Clock::now();
        if (n > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            CloseFd(*ends[i]);
        }
    }
    return true;
}

std::optional<std::string> ChildProcess::TakeLine() {
    const std::size_t newline = m_out.find('\n', m_taken);
    if (newline == std::string::npos) {
        return std::nullopt;
    }
    std::string line = m_out.substr(m_taken, newline - m_taken);
    m_taken = newline + 1;
    return line;
}

std::string ChildProcess::ReadLine(int timeoutMs) {
    const auto deadline = DeadlineAfter(std::chrono::milliseconds(timeoutMs));
    for (;;) {
        if (std::optional<std::string> line = TakeLine()) {
            return *line;
        }
        if (!Pump(deadline)) {
            return {};
        }
    }
}

void ChildProcess::Signal(int sig) {
    if (Running()) {
        kill(m_pid, sig);
    }
}

int ChildProcess::Stop(std::string* output, int timeoutMs) {
    Signal(SIGTERM);
    return Wait(output, timeoutMs);
}

int ChildProcess::Wait(std::string* output, int timeoutMs) {
    if (!Running()) {
        return -1;
    }
    const Exit exit = Finish(std::chrono::milliseconds(timeoutMs));
    if (output) {
        *output = m_out.substr(m_taken);
    }
    return exit.status;
}

ChildProcess::Exit ChildProcess::Finish(std::chrono::milliseconds limit) {
    Exit exit;
    if (!Running()) {
        return exit;
    }
    const auto deadline = DeadlineAfter(limit);
    // Read until it closes its ends, so that its last words are kept.
    while (Pump(deadline)) {
    }
    int status = 0;
    pid_t reaped = 0;
    for (;;) {
        const bool due = !PipesEnded() || MsLeft(deadline) == 0;
        if (due && !exit.killed) {
            exit.killed = true;
            kill(m_pid, SIGKILL);
        }
        const bool block = exit.killed || deadline == Clock::time_point::max();
        reaped = wait4(m_pid, &status, block ? 0 : WNOHANG, &exit.usage);
        if (reaped != 0 && !(reaped < 0 && errno == EINTR)) {
            break;
        }
        if (reaped == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    m_pid = -1;
    // What it wrote before it was killed is still worth seeing.
    while (Pump(Clock::now())) {
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
    if (reaped > 0 && WIFEXITED(status)) {
        exit.status = WEXITSTATUS(status);
    } else if (reaped > 0 && WIFSIGNALED(status)) {
        exit.signal = WTERMSIG(status);
    }
    return exit;
}
