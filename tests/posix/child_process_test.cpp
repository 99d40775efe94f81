// The helper that starts target-sim, download-cli and lrzsz for the demo,
// the tests and the benchmarks: where it leads a child's streams, what it
// refuses to start, and how it ends a child that overstays its limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/posix/posix_support.h"

namespace {

using Stream = ChildProcess::Stream;

class ChildProcessTest : public ::testing::Test {
  protected:
    TempDir dir{"child_process_test"};
};

TEST_F(ChildProcessTest, ProgramsThatCannotStartAreRefusedAndLeaveNothing) {
    struct Case {
        const char* what;
        std::vector<std::string> argv;
        ChildProcess::Options options;
        int reason;  // errno
    };
    ChildProcess::Options searched, missingFolder, missingInput;
    searched.searchPath = true;
    missingFolder.workDir = "/nonexistent/folder";
    missingInput.in = Stream::File("/nonexistent/input", O_RDONLY);
    const Case cases[] = {
        {"missing program", {"/nonexistent/program"}, {}, ENOENT},
        {"a folder", {"/tmp"}, {}, EACCES},
        {"not in PATH", {"no-such-program-anywhere"}, searched, ENOENT},
        {"missing working folder", {"/bin/true"}, missingFolder, ENOENT},
        {"missing input file", {"/bin/true"}, missingInput, ENOENT},
    };
    const int fds = OpenDescriptorCount();
    for (const Case& c : cases) {
        ChildProcess child;
        errno = 0;
        EXPECT_FALSE(child.Start(c.argv, c.options)) << c.what;
        EXPECT_EQ(errno, c.reason) << c.what;
        EXPECT_FALSE(child.Running()) << c.what;
    }
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child left unreaped";
}

TEST_F(ChildProcessTest, StreamsAndWorkingFolderGoWhereTold) {
    std::ofstream(dir.path() / "input") << "from the file\n";
    ChildProcess::Options options;
    options.in = Stream::File((dir.path() / "input").string(), O_RDONLY);
    options.err = Stream::Piped();
    options.workDir = dir.path().string();
    options.searchPath = true;
    ChildProcess child;
    ASSERT_TRUE(child.Start({"sh", "-c", "pwd; cat; echo said >&2; exit 3"}, options));
    const ChildProcess::Exit exit = child.Finish(10s);
    EXPECT_EQ(exit.status, 3);
    EXPECT_FALSE(exit.killed);
    EXPECT_EQ(child.Out(), std::filesystem::canonical(dir.path()).string() + "\nfrom the file\n");
    EXPECT_EQ(child.Err(), "said\n");

    // Standard output into a file, and a descriptor of ours shared.
    const int shared = open((dir.path() / "shared").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(shared, 0);
    options = {};
    options.out = Stream::File((dir.path() / "out").string(), O_WRONLY | O_CREAT | O_TRUNC);
    options.err = Stream::Shared(shared);
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "echo out; echo err >&2"}, options));
    EXPECT_EQ(child.Finish(10s).status, 0);
    close(shared);
    std::stringstream out, err;
    out << std::ifstream(dir.path() / "out").rdbuf();
    err << std::ifstream(dir.path() / "shared").rdbuf();
    EXPECT_EQ(out.str(), "out\n");
    EXPECT_EQ(err.str(), "err\n");
}

TEST_F(ChildProcessTest, OverdueChildIsKilledAndItsUsageReported) {
    ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "echo started; exec sleep 30"}));
    EXPECT_EQ(child.ReadLine(10000), "started");
    const auto t0 = std::chrono::steady_clock::now();
    const ChildProcess::Exit exit = child.Finish(300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms) << "never before the limit";
    EXPECT_TRUE(exit.killed);
    EXPECT_EQ(exit.signal, SIGKILL);
    EXPECT_EQ(exit.status, -1);
    EXPECT_GT(exit.usage.ru_maxrss, 0) << "wait4's figures";
    EXPECT_FALSE(child.Running());
}

// What the child starts with, from /proc/self/status: the signals it
// blocks and ignores (hex masks, bit n-1 for signal n).
std::pair<unsigned long long, unsigned long long> SignalMasks(const std::string& status) {
    auto field = [&](const std::string& name) {
        const auto at = status.find(name + ":\t");
        return at == std::string::npos
                   ? ~0ULL
                   : std::stoull(status.substr(at + name.size() + 2), nullptr, 16);
    };
    return {field("SigBlk"), field("SigIgn")};
}

TEST_F(ChildProcessTest, SignalsAtTheirDefaultsWhenAsked) {
    // Set up as a test runner might: SIGPIPE ignored, SIGTERM blocked.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    sigset_t term, mask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &mask);
    const unsigned long long termBit = 1ULL << (SIGTERM - 1), pipeBit = 1ULL << (SIGPIPE - 1);
    for (const bool defaults : {false, true}) {
        SCOPED_TRACE(defaults);
        ChildProcess::Options options;
        options.defaultSignals = defaults;
        options.searchPath = true;
        ChildProcess child;
        ASSERT_TRUE(child.Start({"cat", "/proc/self/status"}, options));
        EXPECT_EQ(child.Finish(10s).status, 0);
        const auto [blocked, ignored] = SignalMasks(child.Out());
        EXPECT_EQ((blocked & termBit) != 0, !defaults);
        EXPECT_EQ((ignored & pipeBit) != 0, !defaults);
    }
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    sigaction(SIGPIPE, &before, nullptr);
}

}  // namespace
