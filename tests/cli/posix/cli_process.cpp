// download-cli as a child process.
#include "tests/cli/posix/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

std::vector<std::string> CliCommand() {
    const char* command = std::getenv("DT_CLI_COMMAND");
    if (command == nullptr || *command == '\0') {
        return {DOWNLOAD_CLI_PATH};
    }
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

CliProcess::CliProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<std::string> all = CliCommand();
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The tool starts with no signal blocked and the stop signals at their
    // defaults, whatever the test runner set up for itself.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = posix_spawnp(&m_pid, all[0].c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (rc != 0) {
        m_pid = -1;
        CloseFd(m_outFd);
        CloseFd(m_errFd);
    }
}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}

bool CliProcess::Pump(Clock::time_point until) {
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (m_outFd < 0 && m_errFd < 0) {
        return false;
    }
    if (poll(fds, 2, MsLeft(until)) <= 0) {
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
        if (n > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
            CloseFd(*ends[i]);
        }
    }
    return true;
}

bool CliProcess::WaitUntil(const std::function<bool(const std::string&)>& cond,
                           std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!cond(m_out)) {
        if (!Pump(end)) {
            return cond(m_out);
        }
    }
    return true;
}

void CliProcess::Signal(int sig) {
    if (m_pid > 0) {
        kill(m_pid, sig);
    }
}

CliProcess::Result CliProcess::Finish(std::chrono::milliseconds limit) {
    Result result;
    if (m_pid <= 0) {
        return result;
    }
    const auto end = Clock::now() + limit;
    while (Pump(end)) {
    }
    if (m_outFd >= 0 || m_errFd >= 0) {
        result.overdue = true;  // still writing, or still holding its pipes
        kill(m_pid, SIGKILL);
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    // What it wrote before it was killed is still worth seeing.
    while (Pump(Clock::now())) {
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
    result.out = m_out;
    result.err = m_err;
    return result;
}

CliProcess::Result RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
    CliProcess cli(args);
    if (!cli.Started()) {
        CliProcess::Result failed;
        failed.err = "download-cli could not be started";
        return failed;
    }
    return cli.Finish(limit);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
