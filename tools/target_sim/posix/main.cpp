// target-sim: the simulated target machine on a pseudo-terminal, for
// downloads with the real serial backend and no hardware.
//
//   target-sim --type 0|1|2 [--link PATH] [--expect FILE] [--silent] [--noise]
//              [--repeat-every N] [--stop-at N] [--split] [--vanish-after N]
//              [--mute-after N] [--restart-after N] [--hold-after N] [--trust-length]
//              [--baud N] [--turnaround MS] [--timing FILE] [--stored] [--sessions N]
//
// --restart-after N makes the machine restart once, as after a reset, on
// receiving N blocks: it answers nothing more of that download and waits
// for a new opening request, which it then serves in full.
//
// --hold-after N holds the tool's output on the line once N blocks have
// arrived (after asking for the next), as a device's flow control does,
// until the tool closes its port. --trust-length makes a Lorvane 300 take
// the 16-bit length it is told even with --expect, as a real one does.
//
// --baud paces the line both ways: replies go out no faster than the rate,
// and the tool's bytes are taken as arriving no sooner than they would at
// that rate. --timing writes, at the end, the bytes each way and then the
// tool's answer time for every exchange: from the end of a reply written
// to the first byte of the answer read, in microseconds, one per line.
//
// The first line on stdout is the device path to give the tool as its port.
// The machine serves until SIGTERM or SIGINT, or until it vanishes
// (--vanish-after), and then prints one line saying what it received. The
// exit status is 0 when that matched the --expect image (or none was
// given), 1 when it did not, 2 on a usage or setup error.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "image/unscramble.h"
#include "tools/options/command_line.h"
#include "tools/options/info_options.h"
#include "tools/sim/target_machine.h"
#include "tools/target_sim/posix/pty_server.h"

namespace {

struct Options {
    int type = -1;
    std::string link;
    std::string expectFile;
    bool stored = false;  // expectFile is stored as the type's files are
    SimFaults faults;
    unsigned baud = 0;
    std::optional<std::uint32_t> turnaroundMs;
    std::string timingFile;
};

constexpr char kUsage[] =
    "usage: target-sim --type 0|1|2 [--link PATH] [--expect FILE] [--silent] [--noise]\n"
    "                  [--repeat-every N] [--stop-at N] [--split] [--vanish-after N]\n"
    "                  [--mute-after N] [--restart-after N] [--hold-after N]\n"
    "                  [--trust-length] [--baud N] [--turnaround MS] [--timing FILE]\n"
    "                  [--stored] [--sessions N]\n"
    "\n"
    "A simulated target machine on a pseudo-terminal, for downloads without\n"
    "hardware. The first line printed is the device to give the tool as its port;\n"
    "on SIGTERM or SIGINT it prints what it received and ends.\n"
    "\n"
    "  --type N          0 Lorvane 300, 1 Quenta 5X, 2 ZT418\n"
    "  --link PATH       also make PATH a symbolic link to the device\n"
    "  --expect FILE     exit 0 only when the image received equals FILE\n"
    "  --stored          FILE is an image file as the tool is given it (for types 1\n"
    "                    and 2 stored with the key added): expect what it holds\n"
    "  --silent          never answer\n"
    "  --noise           send garbage before every reply\n"
    "  --repeat-every N  ask for every Nth block twice\n"
    "  --stop-at N       block protocol: stop the download instead of asking for block N\n"
    "  --split           send replies in two pieces\n"
    "  --vanish-after N  hang up after N blocks, as a pulled adapter does\n"
    "  --mute-after N    fall silent after N blocks\n"
    "  --restart-after N restart once after N blocks and wait for a new opening request\n"
    "  --hold-after N    hold the tool's output (flow control) after N blocks\n"
    "  --sessions N      answer N downloads, then no more (the unit was taken away)\n"
    "  --trust-length    type 0: take the 16-bit length told, even with --expect\n"
    "  --baud N          pace the line at N baud both ways\n"
    "  --turnaround MS   wait MS milliseconds before each reply\n"
    "  --timing FILE     write the bytes each way and the tool's answer times to FILE\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Exit status: 0 received as expected, 1 not, 2 a usage or setup error.\n";

// Returns an empty string when the options are good, else the problem.
std::string ParseOptions(int argc, char** argv, Options* opt) {
    constexpr long long kBlocks = 1 << 20;  // far beyond any image's block count
    SimFaults& faults = opt->faults;
    const CommandLineTable table{{
        IntegerOption("--type", "a machine type", 0, 2, "0, 1 or 2", &opt->type),
        TextOption("--link", "a path", &opt->link),
        TextOption("--expect", "a file", &opt->expectFile),
        TextOption("--timing", "a file", &opt->timingFile),
        FlagOption("--stored", &opt->stored),
        FlagOption("--silent", &faults.silent),
        FlagOption("--noise", &faults.noise),
        FlagOption("--split", &faults.splitReplies),
        FlagOption("--trust-length", &faults.trustLength),
        IntegerOption("--repeat-every", "a count", 1, kBlocks, "a count of at least 1",
                      &faults.repeatEvery),
        IntegerOption("--stop-at", "a block number", 0, kBlocks, "a block number",
                      &faults.stopAtBlock),
        IntegerOption("--vanish-after", "a block count", 0, kBlocks, "a block count",
                      &faults.vanishAfterBlock),
        IntegerOption("--mute-after", "a block count", 0, kBlocks, "a block count",
                      &faults.muteAfterBlock),
        IntegerOption("--restart-after", "a block count", 0, kBlocks, "a block count",
                      &faults.restartAfterBlock),
        IntegerOption("--hold-after", "a block count", 0, kBlocks, "a block count",
                      &faults.holdAfterBlock),
        IntegerOption("--sessions", "a count", 1, 1'000'000, "a count", &faults.sessions),
        IntegerOption("--baud", "a line rate", 1, 10'000'000, "a line rate", &opt->baud),
        IntegerOption("--turnaround", "milliseconds", 0, 60'000, "milliseconds",
                      [opt](long long ms) { opt->turnaroundMs = static_cast<std::uint32_t>(ms); }),
    }};
    if (std::string problem = ParseCommandLine(argc, argv, table); !problem.empty()) {
        return problem;
    }
    if (opt->type < 0) {
        return "--type is required";
    }
    return {};
}

using Clock = std::chrono::steady_clock;

// Waits until `until`, unless stopFd becomes readable first (then false).
bool PauseUntil(Clock::time_point until, int stopFd) {
    for (;;) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1'000'000'000),
                            static_cast<long>(ns % 1'000'000'000)};
        pollfd p{stopFd, POLLIN, 0};
        if (ppoll(&p, 1, &wait, nullptr) > 0) {
            return false;
        }
    }
}

bool Pause(std::uint32_t ms, int stopFd) {
    return PauseUntil(Clock::now() + std::chrono::milliseconds(ms), stopFd);
}

// What the line carried, for --timing.
struct LineTiming {
    std::uint64_t bytesIn = 0, bytesOut = 0;
    std::vector<long long> answerMicros;  // one per exchange
    // When the last reply left, while an answer to it is awaited. Not an
    // optional: GCC 12 at -O3 takes its value for uninitialised.
    Clock::time_point replyEnd{};
    bool awaitingAnswer = false;

    void Write(const std::string& path) const {
        std::FILE* f = std::fopen(path.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "target-sim: writing %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return;
        }
        std::fprintf(f, "in %llu out %llu\n", static_cast<unsigned long long>(bytesIn),
                     static_cast<unsigned long long>(bytesOut));
        for (const long long us : answerMicros) {
            std::fprintf(f, "%lld\n", us);
        }
        std::fclose(f);
    }
};

// Feeds the machine what the tool has written until the line has been
// quiet for a moment; its replies are no longer sent.
void DrainInto(TargetMachine& machine, PtyServer& line) {
    for (;;) {
        pollfd p{line.MasterFd(), POLLIN, 0};
        if (poll(&p, 1, 50) <= 0 || (p.revents & POLLIN) == 0) {
            return;
        }
        std::uint8_t buffer[4096];
        const long n = line.Read(buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        machine.OnHostBytes(buffer, static_cast<std::size_t>(n));
    }
}

// Puts a symlink to the served device at `link`, replacing a stale link
// from an earlier run but never anything else.
bool MakeLink(const std::string& target, const std::string& link) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "target-sim: linking %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOptions(argc, argv, "target-sim", kUsage)) {
        return 0;
    }
    Options opt;
    if (const std::string problem = ParseOptions(argc, argv, &opt); !problem.empty()) {
        return RefuseCommandLine("target-sim", problem, kUsage);
    }

    std::vector<std::uint8_t> expected;
    const bool haveExpected = !opt.expectFile.empty();
    if (haveExpected) {
        std::ifstream in(opt.expectFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "target-sim: opening %s: %s\n", opt.expectFile.c_str(),
                         std::strerror(errno));
            return 2;
        }
        expected.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const MachineTypeInfo* info = FindMachineType(static_cast<MachineType>(opt.type));
        if (opt.stored && info != nullptr && info->unscrambleOnLoad) {
            Unscramble(expected.data(), expected.size());
        }
    }

    // Signals arrive as readable data, handled in the loop like the line.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "target-sim: signalfd: %s\n", std::strerror(errno));
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);  // a reader of our stdout that has gone is no reason to die

    PtyServer line;
    std::string error;
    if (!line.Open(&error)) {
        std::fprintf(stderr, "target-sim: %s\n", error.c_str());
        return 2;
    }
    if (!opt.link.empty() && !MakeLink(line.SlavePath(), opt.link)) {
        return 2;
    }
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    TargetMachine machine(static_cast<MachineType>(opt.type), opt.faults,
                          static_cast<std::uint32_t>(expected.size()));
    if (opt.turnaroundMs) {
        machine.turnaroundMs = *opt.turnaroundMs;
    }

    LineTiming timing;
    Clock::time_point inboundFree{};  // when the tool's last byte is through, paced
    bool serving = true;
    bool held = false;  // the tool's output, by --hold-after
    while (serving) {
        pollfd fds[3] = {
            {stopFd, POLLIN, 0}, {line.MasterFd(), POLLIN, 0}, {line.CloseWatchFd(), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            // What the tool wrote before the stop still counts as received:
            // its last block may be on the way as the stop comes.
            DrainInto(machine, line);
            break;
        }
        if (fds[2].revents != 0 && line.TakeHostClosed()) {
            machine.Reset();  // the tool closed its port: a new session follows
            if (held) {
                held = !line.HoldOutput(false, &error);
            }
        }
        if (fds[1].revents == 0) {
            continue;
        }
        std::uint8_t buffer[4096];
        const long n = line.Read(buffer, sizeof buffer);
        if (n < 0) {
            std::fprintf(stderr, "target-sim: reading %s: %s\n", line.SlavePath().c_str(),
                         std::strerror(errno));
            break;
        }
        const auto readAt = Clock::now();
        timing.bytesIn += static_cast<std::uint64_t>(n);
        if (timing.awaitingAnswer && n > 0) {
            timing.answerMicros.push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(readAt - timing.replyEnd)
                    .count());
            timing.awaitingAnswer = false;
        }
        if (opt.baud != 0 && n > 0) {
            // On a real line these bytes would still be arriving.
            inboundFree = std::max(readAt, inboundFree) +
                          std::chrono::nanoseconds(10'000'000'000LL * n / opt.baud);
            if (!PauseUntil(inboundFree, stopFd)) {
                // Stopped while they arrive: they count as received, as
                // everything written before a stop does.
                machine.OnHostBytes(buffer, static_cast<std::size_t>(n));
                DrainInto(machine, line);
                break;
            }
        }
        for (const SimReply& piece : machine.OnHostBytes(buffer, static_cast<std::size_t>(n))) {
            if (!Pause(piece.delayMs, stopFd) ||
                !line.Write(piece.bytes.data(), piece.bytes.size(), opt.baud, stopFd) ||
                (piece.readAlone && !line.WaitUntilRead(5000, stopFd))) {
                serving = false;
                break;
            }
            timing.bytesOut += piece.bytes.size();
            timing.replyEnd = Clock::now();
            timing.awaitingAnswer = true;
        }
        if (machine.Vanished()) {
            line.Close();  // the tool's port now reads as hung up
            serving = false;
        } else if (!held && machine.WantsOutputHeld()) {
            held = line.HoldOutput(true, &error);
            if (!held) {
                std::fprintf(stderr, "target-sim: %s\n", error.c_str());
            }
        }
    }

    line.Close();
    if (!opt.link.empty()) {
        unlink(opt.link.c_str());
    }
    close(stopFd);
    if (!opt.timingFile.empty()) {
        timing.Write(opt.timingFile);
    }
    std::printf("%s\n", DescribeOutcome(machine, haveExpected ? &expected : nullptr).c_str());
    std::fflush(stdout);
    return !haveExpected || machine.Received() == expected ? 0 : 1;
}
