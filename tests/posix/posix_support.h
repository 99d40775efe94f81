// Helpers of the POSIX serial tests: pseudo-terminal pairs standing in for
// serial devices, target-sim as a child process, and counts of what the
// process holds (descriptors, threads).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>
#include <termios.h>

#include "tests/test_data.h"
#include "tools/launch/posix/child_process.h"
using namespace std::chrono_literals;

// A pseudo-terminal: the slave plays the serial device the tool opens, the
// master plays the machine on the far end of the line.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return m_path; }
    int Slave() const { return m_slave; }

    termios Settings() const;
    void Apply(const termios& settings);
    // The machine's side goes away: the slave then reads as hung up.
    void CloseMaster();

    void Send(const Bytes& bytes);  // as the machine
    // Reads what the tool wrote until `count` bytes came or `limit` passed.
    Bytes Receive(std::size_t count, std::chrono::milliseconds limit);

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

int OpenDescriptorCount();
int ThreadCount();
// Polls cond every few milliseconds until it holds or `limit` has passed.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit);
// Runs fn on a thread of its own; a run longer than `limit` is a hang, and
// the test program stops there with a message rather than hang for good.
void RunBounded(const char* what, const std::function<void()>& fn, std::chrono::milliseconds limit);

// target-sim started with `args`, serving a pseudo-terminal of its own.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args);

    bool Started() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    struct Outcome {
        int exitStatus = -1;   // -1 when it did not exit normally
        std::string lastLine;  // its final report
    };
    // Asks it to end (SIGTERM) and collects its report.
    Outcome Stop();
    // Waits for it to end by itself (a machine that vanished).
    Outcome Wait(std::chrono::milliseconds limit);

  private:
    ChildProcess m_child;  // stopped, if still running, when the test ends
    std::string m_path;
};
