// A helper process that announces itself on its first line of output, as
// the target simulator does with the pseudo-terminal it serves.
//
// The child's standard output is a pipe to us; its standard input and
// error are ours. It gets SIGTERM when the thread that started it ends, so
// it never outlives us, and it inherits no descriptor of ours beyond the
// three standard ones.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // stops it, if running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the arguments that follow it. False when
    // it cannot be started.
    bool Start(const std::vector<std::string>& argv);
    // The next line it prints, without the newline; empty when none came
    // within timeoutMs or the output ended.
    std::string ReadLine(int timeoutMs);
    // Sends SIGTERM, reads what it prints until it ends (at most timeoutMs,
    // then SIGKILL) and reaps it. Returns its exit status, or -1 when a
    // signal ended it. `output` receives what it printed meanwhile.
    int Stop(std::string* output = nullptr, int timeoutMs = 5000);
    // The same without the SIGTERM: for a child that ends by itself.
    int Wait(std::string* output = nullptr, int timeoutMs = 5000);
    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffered;
};
