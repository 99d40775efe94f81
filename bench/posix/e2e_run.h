// The runs of the end-to-end benchmark: a whole download by download-cli
// against target-sim, and lrzsz's XMODEM on the same bytes; with the
// helper processes both start and the figures they yield.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/launch/posix/child_process.h"

using Clock = std::chrono::steady_clock;

// Seconds from t0 to t.
double Since(Clock::time_point t0, Clock::time_point t);
// The p-th quantile (0 to 1) of v, nearest rank; 0 for none.
double Percentile(std::vector<double> v, double p);

// Starts args[0] with its standard error to /dev/null, or stops the
// benchmark. With `device`, its standard input and output are that device
// (lrzsz speaks on them); otherwise its output is a pipe to us.
void Spawn(ChildProcess& child, const std::vector<std::string>& args,
           const std::string& device = {}, const std::string& workDir = {});
// Reads for up to limitMs and hands each whole line to onLine with the
// time it came. False at the end of the output.
bool ReadLines(ChildProcess& child, int limitMs,
               const std::function<void(const std::string&, Clock::time_point)>& onLine);
// Asks a target-sim to end (SIGTERM) and returns the last line it printed:
// its account of what it received.
std::string StopSim(ChildProcess& sim);

struct SimTiming {
    std::uint64_t bytesIn = 0, bytesOut = 0;
    std::vector<double> answerMs;
};

struct Paths {
    std::string sim, cli;
    std::filesystem::path work;
};

struct DownloadRun {
    int type = 1;
    bool fast = false;
    unsigned baud = 0;       // 0: unpaced
    bool viaRelay = false;   // through a relay between two ptys, as the lrzsz run is
    std::string imageFile;   // as stored
    std::string expectFile;  // what the machine should receive
    std::size_t size = 0;    // its length
};

struct RunResult {
    bool ok = false;
    int exitStatus = -1;
    std::string simOutcome;
    double transfer = 0, cpu = 0;
    long peakKb = 0;
    SimTiming timing;
    double intervalMs = 0;
    double dataPhase = 0;  // through the relay: first block's first byte to last block's last
};

RunResult RunDownload(const Paths& paths, const DownloadRun& run);

// lrzsz's XMODEM: rx waits on one pty, sx sends from another, a relay
// between them; 128-byte blocks with CRC (133 bytes each), one ACK each.
struct LrzszResult {
    bool ok = false;
    bool closed = false;   // both ended well
    double seconds = 0;    // sx started to sx done
    double dataPhase = 0;  // first block's first byte to last block's last
};

LrzszResult RunLrzsz(const std::filesystem::path& work, const std::string& file, std::size_t size);
