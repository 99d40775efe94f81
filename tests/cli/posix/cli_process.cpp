// download-cli as a child process.
#include "tests/cli/posix/cli_process.h"

#include <fcntl.h>

#include <cstdlib>
#include <sstream>

std::vector<std::string> CliCommand() {
    const char* command = std::getenv("DT_CLI_COMMAND");
    if (command == nullptr || *command == '\0') {
        return {DT_DOWNLOAD_CLI_PATH};
    }
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> all = CliCommand();
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess::Options options;
    options.in = ChildProcess::Stream::File(input, O_RDONLY);
    options.err = ChildProcess::Stream::Piped();
    options.searchPath = true;  // DT_CLI_COMMAND may name "wine"
    // The tool starts with no signal blocked and the stop signals at their
    // defaults, whatever the test runner set up for itself.
    options.defaultSignals = true;
    m_child.Start(all, options);
}

CliProcess::~CliProcess() {
    if (m_child.Running()) {
        m_child.Finish(std::chrono::milliseconds(0));  // kills it at once
    }
}

bool CliProcess::WaitUntil(const std::function<bool(const std::string&)>& cond,
                           std::chrono::milliseconds limit) {
    const auto end = ChildProcess::Clock::now() + limit;
    while (!cond(Out())) {
        if (!m_child.Pump(end)) {
            return cond(Out());
        }
    }
    return true;
}

bool CliProcess::WaitForText(const std::string& text, std::chrono::milliseconds limit) {
    return WaitUntil([&](const std::string& out) { return out.find(text) != std::string::npos; },
                     limit);
}

CliProcess::Result CliProcess::Finish(std::chrono::milliseconds limit) {
    Result result;
    if (!Started()) {
        return result;
    }
    const ChildProcess::Exit exit = m_child.Finish(limit);
    result.exitStatus = exit.status;
    result.signal = exit.signal;
    result.overdue = exit.killed;
    result.out = m_child.Out();
    result.err = m_child.Err();
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
