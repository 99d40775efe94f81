// Helpers of the POSIX serial tests.
#include "tests/posix/posix_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return -1;
    }
    int n = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(d);
    return n;
}

int MsLeft(Clock::time_point end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// --- PtyPair ----------------------------------------------------------------------

PtyPair::PtyPair() {
    char name[128];
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    // Children (target-sim) must not inherit our ends of the line.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = name;
    // A fresh tty takes 0x11 and 0x13 from the line as XON and XOFF, and the
    // tool keeps a device's flow control as it finds it. Serial adapters
    // used with the machines are set up without it; so is this line.
    termios t = Settings();
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    Apply(t);
}

PtyPair::~PtyPair() {
    CloseMaster();
    close(m_slave);
}

termios PtyPair::Settings() const {
    termios t{};
    tcgetattr(m_slave, &t);
    return t;
}

void PtyPair::Apply(const termios& settings) {
    tcsetattr(m_slave, TCSANOW, &settings);
}

void PtyPair::CloseMaster() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

void PtyPair::Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = write(m_master, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else {
            pollfd p{m_master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

Bytes PtyPair::Receive(std::size_t count, std::chrono::milliseconds limit) {
    Bytes got;
    const auto end = Clock::now() + limit;
    while (got.size() < count) {
        pollfd p{m_master, POLLIN, 0};
        if (poll(&p, 1, MsLeft(end)) <= 0) {
            break;
        }
        std::uint8_t buffer[512];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// --- Counting and waiting -----------------------------------------------------------

int OpenDescriptorCount() {
    return CountEntries("/proc/self/fd");
}
int ThreadCount() {
    // Some runtimes (ThreadSanitizer's) start a helper thread of their own
    // with the first thread a program starts; have that happen before
    // anything is counted.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    return CountEntries("/proc/self/task");
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void RunBounded(const char* what, const std::function<void()>& fn,
                std::chrono::milliseconds limit) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread t([&] {
        fn();
        std::lock_guard<std::mutex> g(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> g(m);
    if (!cv.wait_for(g, limit, [&] { return done; })) {
        std::fprintf(stderr, "HANG: %s did not return within %lld ms\n", what,
                     static_cast<long long>(limit.count()));
        std::_Exit(3);
    }
    g.unlock();
    t.join();
}

// --- SimProcess ---------------------------------------------------------------------

SimProcess::SimProcess(const std::vector<std::string>& args) {
    std::vector<std::string> argv{DT_TARGET_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    if (m_child.Start(argv)) {
        m_path = m_child.ReadLine(5000);  // the first line names the device it serves
    }
}

namespace {

SimProcess::Outcome OutcomeOf(int exitStatus, std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    const auto lastNewline = text.rfind('\n');
    return {exitStatus, lastNewline == std::string::npos ? text : text.substr(lastNewline + 1)};
}

}  // namespace

SimProcess::Outcome SimProcess::Stop() {
    std::string output;
    const int status = m_child.Stop(&output, 5000);
    return OutcomeOf(status, output);
}

SimProcess::Outcome SimProcess::Wait(std::chrono::milliseconds limit) {
    std::string output;
    const int status = m_child.Wait(&output, static_cast<int>(limit.count()));
    return OutcomeOf(status, output);
}
