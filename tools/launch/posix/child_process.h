// A child process: a helper program (target-sim, download-cli, lrzsz, the
// tool itself) started by the window's demo, the tests and the benchmarks.
//
// Principles of operation
// -----------------------
// Start forks and executes argv[0] with the arguments that follow it. By
// default its standard output is a pipe to us and its standard input and
// error are ours; Options lead each of the three elsewhere (a pipe, a
// descriptor of ours, a file or device opened for it), and may set its
// working directory and reset the signals it starts with. It inherits no
// other descriptor of ours, and it gets SIGTERM when the thread that
// started it ends, so it never outlives us. Start returns once the program
// runs: false means it could not be started (not found, not executable, a
// file to lead a stream to that cannot be opened, a folder that cannot be
// entered), and errno says why.
//
// What it writes to a pipe is kept: Out() and Err() hold all of it so far,
// and ReadLine and TakeLine hand out its standard output line by line.
//
// Every limit is counted from the call and rounded up to whole
// milliseconds: a wait of N ms never ends before N ms have passed, unless
// what it waits for came. Finish reads the pipes until they end, then waits
// for the child to exit, both within one limit; at the limit it kills the
// child (SIGKILL) and reaps it. kNoLimit waits as long as it takes.
//
// One thread uses an object; the destructor stops a child still running
// as Stop does.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();

    // Where one of the child's standard streams leads.
    struct Stream {
        enum class Kind { Ours, Pipe, Descriptor, File };
        Kind kind = Kind::Ours;
        int fd = -1;       // Descriptor: a descriptor of ours it shares
        std::string path;  // File: opened for it with `flags` (created 0644)
        int flags = 0;

        // Read by us (standard output and error only).
        static Stream Piped() { return {Kind::Pipe, -1, {}, 0}; }
        static Stream Shared(int fd) { return {Kind::Descriptor, fd, {}, 0}; }
        static Stream File(std::string path, int flags) {
            return {Kind::File, -1, std::move(path), flags};
        }
    };

    struct Options {
        Stream in;
        Stream out = Stream::Piped();
        Stream err;
        std::string workDir;  // empty: ours
        // argv[0] without a slash is looked up in PATH, as a shell would.
        bool searchPath = false;
        // No signal blocked, and SIGINT, SIGTERM and SIGPIPE at their
        // defaults, whatever we set up for ourselves.
        bool defaultSignals = false;
    };

    // How it ended.
    struct Exit {
        int status = -1;      // its exit status; -1 when it did not exit by itself
        int signal = 0;       // the signal that ended it, if one did
        bool killed = false;  // still running, or holding its pipes, at the limit
        rusage usage{};       // its CPU time and peak memory (wait4)
    };

    ChildProcess() = default;
    ~ChildProcess();  // stops it, if running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the arguments that follow it: standard
    // output piped to us, the rest ours. False when it cannot be started.
    bool Start(const std::vector<std::string>& argv);
    bool Start(const std::vector<std::string>& argv, const Options& options);

    // The next line it prints, without the newline; empty when none came
    // within timeoutMs or the output ended.
    std::string ReadLine(int timeoutMs);
    // Sends SIGTERM, reads what it prints until it ends (at most timeoutMs,
    // then SIGKILL) and reaps it. Returns its exit status, or -1 when a
    // signal ended it. `output` receives what it printed that ReadLine or
    // TakeLine did not hand out.
    int Stop(std::string* output = nullptr, int timeoutMs = 5000);
    // The same without the SIGTERM: for a child that ends by itself.
    int Wait(std::string* output = nullptr, int timeoutMs = 5000);

    // One round of reading its pipes: waits until one has something or
    // `until`, and reads what there is. False when nothing came by then or
    // every pipe has ended.
    bool Pump(Clock::time_point until);
    // The next whole line of its standard output not handed out yet.
    std::optional<std::string> TakeLine();
    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }
    // When the last read of a pipe returned.
    Clock::time_point LastReadAt() const { return m_lastReadAt; }
    // Every pipe has ended (or there was none).
    bool PipesEnded() const { return m_outFd < 0 && m_errFd < 0; }

    void Signal(int sig);
    // Reads its pipes until they end, then reaps it; past `limit` it is
    // killed. The child is gone afterwards; Out() and Err() keep its words.
    Exit Finish(std::chrono::milliseconds limit);

    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out, m_err;
    std::size_t m_taken = 0;  // how much of m_out the line readers handed out
    Clock::time_point m_lastReadAt{};
};
