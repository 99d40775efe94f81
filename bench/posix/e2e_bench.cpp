// End-to-end benchmark: whole downloads of a 131072-byte image by
// download-cli against target-sim over pseudo-terminals, and lrzsz's XMODEM
// (sx to rx) on the same bytes for comparison. Prints tables of figures and
// ratios; asserts nothing, since figures depend on the machine.
//
//   e2e_bench [--quick] [SECTION]...
//
// SECTION is one of unpaced, paced, lrzsz, idle, parallel; all five by
// default.
// --quick uses a 16384-byte image.
//
// Figures, per run:
//   answer     the tool's answer time per exchange, measured by target-sim
//              from the end of its reply to the first byte of the answer,
//              less the read interval timeout the tool must wait out
//              (none with --fast); median and 99th percentile
//   transfer   from the port opened to the end of the download, as the
//              tool's own events tell it
//   cpu        user + system time of download-cli, whole run
//   peak       download-cli's peak resident memory
// A paced run (target-sim at the machine's line rate, both ways) is also
// set against its bounds: the wire time of the bytes carried, and that plus
// the read interval the protocol waits out after every reply.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/posix/e2e_run.h"
#include "image/stored_image.h"

namespace {

namespace fs = std::filesystem;

// A hand-over's cost without the line: one thread wakes another on a
// condition variable and waits for its answer, many times; microseconds
// per round trip.
double ThreadRoundTripMicros() {
    std::mutex m;
    std::condition_variable there, back;
    int turn = 0;
    constexpr int kTrips = 20000;
    std::thread peer([&] {
        for (int i = 0; i < kTrips; ++i) {
            std::unique_lock lock(m);
            there.wait(lock, [&] { return turn == 1; });
            turn = 0;
            back.notify_one();
        }
    });
    const auto t0 = Clock::now();
    for (int i = 0; i < kTrips; ++i) {
        std::unique_lock lock(m);
        turn = 1;
        there.notify_one();
        back.wait(lock, [&] { return turn == 0; });
    }
    const double us = Since(t0, Clock::now()) * 1e6 / kTrips;
    peer.join();
    return us;
}

const char* kTypeNames[] = {"type 0", "type 1", "type 2"};
const unsigned kBaud[] = {9600, 57600, 57600};

std::string Label(const DownloadRun& s) {
    std::string l = kTypeNames[s.type];
    if (s.fast) {
        l += " --fast";
    }
    if (s.viaRelay) {
        l += " (relay)";
    }
    if (s.baud) {
        l += " @" + std::to_string(s.baud);
    }
    return l;
}

void PrintRow(const DownloadRun& s, const RunResult& r) {
    std::vector<double> beyond;
    for (const double a : r.timing.answerMs) {
        beyond.push_back(a - r.intervalMs);
    }
    std::printf("%-24s %-4s %9.3f %9.3f %6zu %10.3f %8.3f %8ld\n", Label(s).c_str(),
                r.ok ? "ok" : "FAIL", Percentile(beyond, 0.5), Percentile(beyond, 0.99),
                r.timing.answerMs.size(), r.transfer, r.cpu, r.peakKb);
    if (!r.ok) {
        std::printf("    exit %d; target-sim: %s\n", r.exitStatus, r.simOutcome.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::vector<std::string> sections;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            quick = true;
        } else if (a == "unpaced" || a == "paced" || a == "lrzsz" || a == "idle" ||
                   a == "parallel") {
            sections.push_back(a);
        } else {
            std::fprintf(stderr,
                         "usage: e2e_bench [--quick] [unpaced|paced|lrzsz|idle|parallel]...\n");
            return 2;
        }
    }
    auto wanted = [&](const char* section) {
        return sections.empty() ||
               std::find(sections.begin(), sections.end(), section) != sections.end();
    };
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Paths paths{DT_TARGET_SIM_PATH, DT_DOWNLOAD_CLI_PATH,
                fs::temp_directory_path() / ("e2e_bench_" + std::to_string(getpid()))};
    fs::create_directories(paths.work);

    // The image, pseudo-random, as each machine type stores it.
    const std::size_t size = quick ? 16384 : 131072;
    std::vector<std::uint8_t> image(size);
    std::uint32_t seed = 12345;
    for (auto& b : image) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    // A type 0 file holds the image as it is: it is also the bytes target-sim
    // expects and lrzsz carries.
    const fs::path eup = paths.work / "image.EUP", upl = paths.work / "image.UPL";
    const fs::path& plain = eup;
    WriteStoredImage(eup.string(), 0, image);
    WriteStoredImage(upl.string(), 1, image);
    auto plan = [&](int type, bool fast, unsigned baud, bool relay = false) {
        return DownloadRun{
            type, fast, baud, relay, type == 0 ? eup.string() : upl.string(), plain.string(), size};
    };

    std::printf("image: %zu bytes\n", size);
    if (wanted("unpaced")) {
        std::printf("\nunpaced\n%-24s %-4s %9s %9s %6s %10s %8s %8s\n", "run", "", "answer",
                    "answer", "exch.", "transfer", "cpu", "peak");
        std::printf("%-24s %-4s %9s %9s %6s %10s %8s %8s\n", "", "", "med ms", "p99 ms", "", "s",
                    "s", "KB");
        for (const DownloadRun& s : {plan(0, false, 0), plan(1, false, 0), plan(2, false, 0),
                                     plan(1, true, 0), plan(2, true, 0)}) {
            PrintRow(s, RunDownload(paths, s));
        }
    }

    if (wanted("paced")) {
        std::printf("\npaced by target-sim at the machine's line rate, both ways\n");
        std::printf("%-24s %-4s %10s %10s %10s %10s %10s\n", "run", "", "transfer s", "wire s",
                    "ratio", "+interval", "ratio");
        std::vector<DownloadRun> runs{plan(0, false, kBaud[0]), plan(1, false, kBaud[1]),
                                      plan(1, true, kBaud[1])};
        for (const DownloadRun& s : runs) {
            const RunResult r = RunDownload(paths, s);
            const double wire =
                static_cast<double>(r.timing.bytesIn + r.timing.bytesOut) * 10.0 / s.baud;
            const double withInterval =
                wire + static_cast<double>(r.timing.answerMs.size()) * r.intervalMs / 1000.0;
            std::printf("%-24s %-4s %10.3f %10.3f %10.4f %10.3f %10.4f\n", Label(s).c_str(),
                        r.ok ? "ok" : "FAIL", r.transfer, wire, r.transfer / wire, withInterval,
                        r.transfer / withInterval);
        }
    }

    if (wanted("lrzsz")) {
        std::printf("\n--fast against lrzsz XMODEM (sx to rx), each over two ptys and a relay\n");
        if (access("/usr/bin/sx", X_OK) != 0 || access("/usr/bin/rx", X_OK) != 0) {
            std::printf("  skipped: needs lrzsz installed\n");
        } else {
            // Both are stop-and-wait with 128-byte blocks and a short answer
            // each. The data phase is the like-for-like figure; the session
            // adds each side's start and close. Five runs each, by turns;
            // medians, since lrzsz now and then loses an answer on a pty
            // and waits out its 10-second retry.
            const int kRuns = 5;
            std::vector<double> oursData, oursSession, theirData, theirSession;
            int oursFailed = 0, theirFailed = 0, theirStalls = 0, theirBadClose = 0;
            for (int i = 0; i < kRuns; ++i) {
                const RunResult ours = RunDownload(paths, plan(1, true, 0, true));
                oursFailed += ours.ok ? 0 : 1;
                oursData.push_back(ours.dataPhase);
                oursSession.push_back(ours.transfer);
                const LrzszResult theirs = RunLrzsz(paths.work, plain.string(), size);
                theirFailed += theirs.ok ? 0 : 1;
                theirBadClose += theirs.closed ? 0 : 1;
                theirStalls += theirs.dataPhase > 1.0 ? 1 : 0;
                theirData.push_back(theirs.dataPhase);
                theirSession.push_back(theirs.seconds);
            }
            std::printf("  %-28s %9s %14s %14s\n", "median of 5", "failed", "data phase s",
                        "session s");
            std::printf("  %-28s %9d %14.4f %14.4f  (port opened to done)\n",
                        "download-cli --fast, type 1", oursFailed, Percentile(oursData, 0.5),
                        Percentile(oursSession, 0.5));
            std::printf("  %-28s %9d %14.4f %14.4f  (sx started to sx done)\n", "lrzsz sx to rx",
                        theirFailed, Percentile(theirData, 0.5), Percentile(theirSession, 0.5));
            std::printf("  best data phase: %.4f s download-cli, %.4f s lrzsz\n",
                        Percentile(oursData, 0), Percentile(theirData, 0));
            std::printf("  lrzsz: %d of %d runs stalled over 1 s, %d closed badly\n", theirStalls,
                        kRuns, theirBadClose);
            std::printf("  a thread round trip on a condition variable: %.1f us\n",
                        ThreadRoundTripMicros());
            std::printf("  ratio, download-cli to lrzsz (medians): %.3f data phase, %.3f session\n",
                        Percentile(oursData, 0.5) / Percentile(theirData, 0.5),
                        Percentile(oursSession, 0.5) / Percentile(theirSession, 0.5));
        }
    }

    // Idle: a machine that answers, then falls silent; the tool waits.
    if (wanted("idle")) {
        std::printf("\nidle: download-cli waiting on a silent machine\n");
        ChildProcess sim, cli;
        Spawn(sim, {paths.sim, "--type", "1", "--mute-after", "4"});
        const std::string port = sim.ReadLine(5000);
        Spawn(cli, {paths.cli, "--json", "--type", "1", "--timeout", "9", "--port", port, upl});
        std::optional<Clock::time_point> connected;
        while (!connected && ReadLines(cli, 1000, [&](const std::string& l, Clock::time_point t) {
            if (l.find("\"event\":\"connected\"") != std::string::npos) {
                connected = t;
            }
        })) {
        }
        auto cpuTicks = [&] {
            std::ifstream stat("/proc/" + std::to_string(cli.Pid()) + "/stat");
            std::string all((std::istreambuf_iterator<char>(stat)), {});
            std::istringstream rest(all.substr(all.rfind(')') + 2));
            std::string field;
            long utime = 0, stime = 0;
            for (int i = 3; i <= 15 && rest >> field; ++i) {
                if (i == 14) {
                    utime = std::stol(field);
                } else if (i == 15) {
                    stime = std::stol(field);
                }
            }
            return utime + stime;
        };
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long before = cpuTicks();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(6));
        const long after = cpuTicks();
        const double window = Since(t0, Clock::now());
        const double cpu =
            static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK));
        while (ReadLines(cli, 1000, [](const std::string&, Clock::time_point) {})) {
        }
        const int status = cli.Finish(ChildProcess::kNoLimit).status;
        StopSim(sim);
        std::printf("  %.3f s of CPU in %.1f s idle (%.2f %%); exit %d (5: fell silent)\n", cpu,
                    window, 100.0 * cpu / window, status);
    }

    // Gang programming: 16 machines, each paced at its line rate, served
    // by one download-cli --parallel process, against one machine alone.
    if (wanted("parallel")) {
        std::printf("\nparallel: type 1 at 57600, one process, wall time from start to exit\n");
        struct Gang {
            double wall = 0;
            long peakKb = 0;
            int exitStatus = -1;
            int whole = 0;  // machines that got exactly the image
        };
        auto runGang = [&](int machines) {
            Gang g;
            std::deque<ChildProcess> sims;
            std::vector<std::string> args{paths.cli, "--type", "1"};
            if (machines > 1) {
                args.push_back("--parallel");
            }
            for (int i = 0; i < machines; ++i) {
                Spawn(sims.emplace_back(), {paths.sim, "--type", "1", "--expect", plain.string(),
                                            "--baud", std::to_string(kBaud[1])});
                args.push_back("--port");
                args.push_back(sims.back().ReadLine(5000));
            }
            args.push_back(upl.string());
            const auto t0 = Clock::now();
            ChildProcess cli;
            Spawn(cli, args);
            while (ReadLines(cli, 1000, [](const std::string&, Clock::time_point) {})) {
            }
            const ChildProcess::Exit exit = cli.Finish(ChildProcess::kNoLimit);
            g.exitStatus = exit.status;
            g.wall = Since(t0, Clock::now());
            g.peakKb = exit.usage.ru_maxrss;
            for (ChildProcess& sim : sims) {
                g.whole += StopSim(sim).find("matches the expected image") != std::string::npos;
            }
            return g;
        };
        const Gang one = runGang(1);
        const Gang sixteen = runGang(16);
        std::printf("  %-22s %10s %10s %6s %8s\n", "", "wall s", "peak KB", "exit", "whole");
        std::printf("  %-22s %10.3f %10ld %6d %5d/1\n", "one machine alone", one.wall, one.peakKb,
                    one.exitStatus, one.whole);
        std::printf("  %-22s %10.3f %10ld %6d %5d/16\n", "16 with --parallel", sixteen.wall,
                    sixteen.peakKb, sixteen.exitStatus, sixteen.whole);
        std::printf("  ratio of wall times: %.4f\n", sixteen.wall / one.wall);
    }

    fs::remove_all(paths.work);
    return 0;
}
