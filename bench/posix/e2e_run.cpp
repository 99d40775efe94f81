// One whole download by download-cli against target-sim, and the helpers
// the benchmark's runs share.
#include "bench/posix/e2e_run.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "bench/posix/relay.h"

namespace {

SimTiming ReadTiming(const std::string& path) {
    SimTiming t;
    std::ifstream in(path);
    std::string word;
    in >> word >> t.bytesIn >> word >> t.bytesOut;
    long long us = 0;
    while (in >> us) {
        t.answerMs.push_back(static_cast<double>(us) / 1000.0);
    }
    return t;
}

// The last whole line of text; empty when there is none.
std::string LastLine(const std::string& text) {
    const std::size_t end = text.rfind('\n');
    if (end == std::string::npos) {
        return {};
    }
    const std::size_t before = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
    const std::size_t start = before == std::string::npos ? 0 : before + 1;
    return text.substr(start, end - start);
}

}  // namespace

double Since(Clock::time_point t0, Clock::time_point t) {
    return std::chrono::duration<double>(t - t0).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void Spawn(ChildProcess& child, const std::vector<std::string>& args, const std::string& device,
           const std::string& workDir) {
    ChildProcess::Options options;
    options.err = ChildProcess::Stream::File("/dev/null", O_WRONLY);
    options.workDir = workDir;
    int line = -1;
    if (!device.empty()) {
        line = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        options.in = options.out = ChildProcess::Stream::Shared(line);
    }
    const bool started = (device.empty() || line >= 0) && child.Start(args, options);
    const int reason = errno;
    if (line >= 0) {
        close(line);
    }
    if (!started) {
        std::fprintf(stderr, "e2e_bench: starting %s: %s\n", args[0].c_str(),
                     std::strerror(reason));
        std::exit(2);
    }
}

bool ReadLines(ChildProcess& child, int limitMs,
               const std::function<void(const std::string&, Clock::time_point)>& onLine) {
    if (!child.Pump(Clock::now() + std::chrono::milliseconds(limitMs))) {
        return !child.PipesEnded();
    }
    while (const std::optional<std::string> line = child.TakeLine()) {
        onLine(*line, child.LastReadAt());
    }
    return true;
}

std::string StopSim(ChildProcess& sim) {
    std::string said;
    sim.Stop(&said, 10000);
    return LastLine(said);
}

RunResult RunDownload(const Paths& paths, const DownloadRun& run) {
    RunResult r;
    r.intervalMs = run.fast ? 0 : (run.type == 0 ? 70 : 20);
    const std::string timingFile = (paths.work / "timing.txt").string();
    std::vector<std::string> simArgs{paths.sim,  "--type",       std::to_string(run.type),
                                     "--expect", run.expectFile, "--turnaround",
                                     "0",        "--timing",     timingFile};
    if (run.baud) {
        simArgs.push_back("--baud");
        simArgs.push_back(std::to_string(run.baud));
    }
    ChildProcess sim;
    Spawn(sim, simArgs);
    std::string port = sim.ReadLine(5000);
    std::optional<PtyServer> hostSide;
    std::optional<Relay> relay;
    int machineSide = -1;
    if (run.viaRelay) {
        // The opening request is 14 bytes; each block frame 133.
        const std::uint64_t blocks = (run.size + 127) / 128;
        hostSide.emplace();
        OpenPty(*hostSide);
        machineSide = OpenRaw(port);
        relay.emplace(hostSide->MasterFd(), machineSide, 14, 14 + blocks * 133);
        port = hostSide->SlavePath();
    }
    std::vector<std::string> cliArgs{paths.cli, "--json", "--type", std::to_string(run.type),
                                     "--port",  port};
    if (run.fast) {
        cliArgs.push_back("--fast");
    }
    cliArgs.push_back(run.imageFile);
    ChildProcess cli;
    Spawn(cli, cliArgs);
    std::optional<Clock::time_point> opened, done;
    while (ReadLines(cli, 1000, [&](const std::string& l, Clock::time_point t) {
        if (!opened && l.find("\"result\":\"opened\"") != std::string::npos) {
            opened = t;
        }
        if (l.find("\"event\":\"done\"") != std::string::npos) {
            done = t;
        }
    })) {
    }
    const ChildProcess::Exit exit = cli.Finish(ChildProcess::kNoLimit);
    r.exitStatus = exit.status;
    const rusage& usage = exit.usage;
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.peakKb = usage.ru_maxrss;
    if (opened && done) {
        r.transfer = Since(*opened, *done);
    }
    if (relay) {
        r.dataPhase = relay->DataPhase();
        relay.reset();
        close(machineSide);
    }
    r.simOutcome = StopSim(sim);
    r.timing = ReadTiming(timingFile);
    r.ok =
        r.exitStatus == 0 && r.simOutcome.find("matches the expected image") != std::string::npos;
    return r;
}
