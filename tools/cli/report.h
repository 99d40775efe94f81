// What download-cli prints and records: plain lines (a bar on a terminal,
// a line per tenth elsewhere), --json events, and --record lines.
#pragma once

#include <chrono>
#include <cstdint>
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

  private:
    static std::string Fixed(double v);
    void Progress(std::uint32_t sent, std::uint32_t total);
    void EndBar();

    const CliOptions& m_options;
    bool m_quiet;
    bool m_tty;
    bool m_barShown = false;
    std::string m_port;  // the port that answered, for --parallel's events
    std::set<std::string> m_toldWhileWaiting;
    int m_lastTenth = -1;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// The image's size and SHA-256 as recorded per unit.
struct ImageDigest {
    std::uint64_t size = 0;
    std::string sha256;
};
// Reads the image file (through the same file layer as the dialog, so it
// refuses what that refuses). False, with the message, when it cannot.
bool DigestImage(const std::string& path, ImageDigest& digest, std::string& error);

// Appends one line for the unit to --record's file, if one was given.
void Record(const CliOptions& o, const UnitOutcome& u, const ImageDigest& image);
