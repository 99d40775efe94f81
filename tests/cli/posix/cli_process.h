// download-cli as a child process for the command-line tests: its standard
// output and error read through pipes, its exit status collected, and a hard
// limit on how long it may run, after which it is killed.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/launch/posix/child_process.h"

// The command that runs download-cli: the built program, or the words of
// DT_CLI_COMMAND (e.g. "wine build/win-x86_64/download-cli.exe", for the
// Windows build; see tests/cli/run_under_wine.sh).
std::vector<std::string> CliCommand();

class CliProcess {
  public:
    // Starts download-cli with `args`; its standard input is the file
    // `input`.
    explicit CliProcess(const std::vector<std::string>& args,
                        const std::string& input = "/dev/null");
    ~CliProcess();  // kills it, if it still runs
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool Started() const { return m_child.Running(); }
    // What it has written to standard output so far.
    const std::string& Out() const { return m_child.Out(); }

    // Reads its output until cond(Out()) holds, the output ends or `limit`
    // has passed. Returns whether cond held.
    bool WaitUntil(const std::function<bool(const std::string&)>& cond,
                   std::chrono::milliseconds limit);
    // The same until `text` appears in it.
    bool WaitForText(const std::string& text, std::chrono::milliseconds limit);
    void Signal(int sig) { m_child.Signal(sig); }

    struct Result {
        int exitStatus = -1;   // -1 when it did not exit by itself
        int signal = 0;        // the signal that ended it, if one did
        bool overdue = false;  // still running at the limit, and killed
        std::string out, err;
    };
    // Reads its output until both pipes end, then reaps it. Past `limit`
    // it is killed (SIGKILL) and marked overdue.
    Result Finish(std::chrono::milliseconds limit);

  private:
    ChildProcess m_child;
};

// Runs download-cli with `args` to its end.
CliProcess::Result RunCli(const std::vector<std::string>& args,
                          std::chrono::milliseconds limit = std::chrono::seconds(60));

// The text split at newlines; a final line without one counts too.
std::vector<std::string> Lines(const std::string& text);
