// What download-cli prints and records: plain lines (a bar on a terminal,
// a line per tenth elsewhere), --json events, and --record lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "tools/cli/cli_options.h"
#include "tools/cli/unit.h"

// The output of one unit's runner. quiet: only the result lines (plain
// output of --parallel, where several units share the terminal).
class Output {
  public:
    Output(const CliOptions& o, bool quiet, bool terminal);

    UnitEvents Events();
    void Result(const UnitOutcome& u);
    // The running count of --loop.
    void Units(int passed, int failed);
    void Line(const std::string& text);

    // A station's position, from 1: every --json event then names it, and
    // each line goes to `sink` instead of standard output. tellPorts: ports
    // that did not open or answer are told, once per wait, even when quiet.
    void SetPosition(int position, std::function<void(const std::string&)> sink, bool tellPorts);

  private:
    static std::string Fixed(double v);
    void Progress(std::uint32_t sent, std::uint32_t total);
    void EndBar();
    void Emit(const std::string& text);

    const CliOptions& m_options;
    bool m_quiet;
    bool m_tty;
    bool m_barShown = false;
    std::string m_port;  // the port that answered, for --parallel's events
    int m_position = 0;
    bool m_tellPorts = false;
    std::function<void(const std::string&)> m_sink;
    std::set<std::string> m_toldWhileWaiting;
    int m_lastTenth = -1;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};
