// End-to-end benchmark: whole downloads of a 131072-byte image by
// download-cli against target-sim over pseudo-terminals, and lrzsz's XMODEM
// (sx to rx) on the same bytes for comparison. Prints tables of figures and
// ratios; asserts nothing, since figures depend on the machine.
//
//   e2e_bench [--quick] [SECTION]...
//
// SECTION is one of unpaced, paced, lrzsz, idle; all four by default.
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
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "image/stored_image.h"
#include "tools/target_sim/posix/pty_server.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Since(Clock::time_point t0, Clock::time_point t) {
    return std::chrono::duration<double>(t - t0).count();
}

// A child process with its stdout on a pipe (or redirected to a device).
struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout, when piped
    std::string pending;

    // Reads whole lines for up to `limitMs`; calls onLine(line, time) for
    // each. Returns false at end of output.
    bool ReadLines(int limitMs,
                   const std::function<void(const std::string&, Clock::time_point)>& onLine) {
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, limitMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t n = read(out, buffer, sizeof buffer);
        const auto now = Clock::now();
        if (n <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            onLine(pending.substr(0, nl), now);
            pending.erase(0, nl + 1);
        }
        return true;
    }

    // Waits for the end, killing it after limitMs (when > 0); returns the
    // exit status (-1 when killed) and usage.
    int Wait(rusage* usage, int limitMs = 0) {
        int status = 0;
        rusage local{};
        const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            const pid_t r = wait4(pid, &status, limitMs > 0 ? WNOHANG : 0, usage ? usage : &local);
            if (r == pid || (r < 0 && errno != EINTR)) {
                break;
            }
            if (r == 0 && Clock::now() > until) {
                kill(pid, SIGKILL);
                limitMs = 0;
            } else if (r == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        if (out >= 0) {
            close(out);
            out = -1;
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// Starts argv[0]. With `device`, its stdin and stdout are that device
// (lrzsz speaks on them); otherwise stdout is a pipe to us.
Child Spawn(const std::vector<std::string>& args, const std::string& device = {},
            const std::string& workDir = {}, const std::string& errFile = "/dev/null") {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (device.empty()) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, device.c_str(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
    }
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    Child c;
    const int rc = posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "e2e_bench: starting %s: %s\n", argv[0], std::strerror(rc));
        std::exit(2);
    }
    if (pipeFds[1] >= 0) {
        close(pipeFds[1]);
        c.out = pipeFds[0];
    }
    return c;
}

std::string FirstLine(Child& c, int limitMs) {
    std::string line;
    const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
    while (line.empty() && Clock::now() < until) {
        if (!c.ReadLines(100, [&](const std::string& l, Clock::time_point) {
                if (line.empty()) {
                    line = l;
                }
            })) {
            break;
        }
    }
    return line;
}

std::string LastLines(Child& c) {
    std::string all;
    while (c.ReadLines(5000, [&](const std::string& l, Clock::time_point) { all = l; })) {
    }
    return all;
}

struct SimTiming {
    std::uint64_t bytesIn = 0, bytesOut = 0;
    std::vector<double> answerMs;
};

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

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// A pseudo-terminal of target-sim's kind (raw, a slave kept open), or we
// stop: without one there is nothing to measure.
void OpenPty(PtyServer& pty) {
    std::string error;
    if (!pty.Open(&error)) {
        std::fprintf(stderr, "e2e_bench: %s\n", error.c_str());
        std::exit(2);
    }
}

// Opens a device raw, as a serial port would be.
int OpenRaw(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        std::perror(("e2e_bench: " + device).c_str());
        std::exit(2);
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Copies bytes both ways between two descriptors on a thread, as socat
// would, and notes when the sender's byte count passes two marks: the
// first byte of the first data block and the last byte of the last one.
class Relay {
  public:
    Relay(int sender, int receiver, std::uint64_t firstMark, std::uint64_t lastMark)
        : m_sender(sender), m_receiver(receiver), m_first(firstMark), m_last(lastMark) {
        if (pipe2(m_stop, O_CLOEXEC) != 0) {
            std::perror("e2e_bench: pipe");
            std::exit(2);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~Relay() {
        const char c = 0;
        (void)!write(m_stop[1], &c, 1);
        m_thread.join();
        close(m_stop[0]);
        close(m_stop[1]);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Seconds from the first mark to the last; 0 when not both were seen.
    double DataPhase() const {
        std::lock_guard lock(m_mutex);
        return m_firstAt && m_lastAt ? Since(*m_firstAt, *m_lastAt) : 0;
    }

  private:
    void Run() {
        for (;;) {
            pollfd fds[3] = {
                {m_sender, POLLIN, 0}, {m_receiver, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 3, -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[2].revents) {
                return;
            }
            std::uint8_t buffer[4096];
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(m_sender, buffer, sizeof buffer);
                const auto now = Clock::now();
                if (n > 0) {
                    WriteAll(m_receiver, buffer, static_cast<std::size_t>(n));
                    std::lock_guard lock(m_mutex);
                    const std::uint64_t before = m_sent;
                    m_sent += static_cast<std::uint64_t>(n);
                    if (!m_firstAt && before <= m_first && m_first < m_sent) {
                        m_firstAt = now;
                    }
                    if (!m_lastAt && m_sent >= m_last) {
                        m_lastAt = now;
                    }
                }
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = read(m_receiver, buffer, sizeof buffer);
                if (n > 0) {
                    WriteAll(m_sender, buffer, static_cast<std::size_t>(n));
                }
            }
            if ((fds[0].revents | fds[1].revents) & (POLLHUP | POLLERR | POLLNVAL)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no spin on a hang-up
            }
        }
    }

    static void WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = write(fd, p, n);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }

    int m_sender, m_receiver;
    std::uint64_t m_first, m_last;
    int m_stop[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::uint64_t m_sent = 0;
    std::optional<Clock::time_point> m_firstAt, m_lastAt;
    std::thread m_thread;
};

struct Paths {
    std::string sim, cli;
    fs::path work;
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
    Child sim = Spawn(simArgs);
    std::string port = FirstLine(sim, 5000);
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
    Child cli = Spawn(cliArgs);
    std::optional<Clock::time_point> opened, done;
    while (cli.ReadLines(1000, [&](const std::string& l, Clock::time_point t) {
        if (!opened && l.find("\"result\":\"opened\"") != std::string::npos) {
            opened = t;
        }
        if (l.find("\"event\":\"done\"") != std::string::npos) {
            done = t;
        }
    })) {
    }
    rusage usage{};
    r.exitStatus = cli.Wait(&usage);
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
    kill(sim.pid, SIGTERM);
    r.simOutcome = LastLines(sim);
    sim.Wait(nullptr);
    r.timing = ReadTiming(timingFile);
    r.ok =
        r.exitStatus == 0 && r.simOutcome.find("matches the expected image") != std::string::npos;
    return r;
}

// lrzsz's XMODEM: rx waits on one pty, sx sends from another, a relay
// between them; 128-byte blocks with CRC (133 bytes each), one ACK each.
struct LrzszResult {
    bool ok = false;
    bool closed = false;   // both ended well
    double seconds = 0;    // sx started to sx done
    double dataPhase = 0;  // first block's first byte to last block's last
};

LrzszResult RunLrzsz(const fs::path& work, const std::string& file, std::size_t size) {
    LrzszResult r;
    PtyServer senderPty, receiverPty;
    OpenPty(senderPty);
    OpenPty(receiverPty);
    const std::uint64_t blocks = (size + 127) / 128;
    std::optional<Relay> relay;
    relay.emplace(senderPty.MasterFd(), receiverPty.MasterFd(), 0, blocks * 133);
    const fs::path rxDir = work / "rx";
    fs::create_directories(rxDir);
    fs::remove(rxDir / "received");
    Child rx =
        Spawn({"/usr/bin/rx", "-b", "-c", "received"}, receiverPty.SlavePath(), rxDir.string());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // rx is waiting, asking for CRC
    const auto t0 = Clock::now();
    Child sx = Spawn({"/usr/bin/sx", "-b", file}, senderPty.SlavePath());
    // sx sometimes misses the answer to its closing EOT and retries for
    // a long time; the data phase is measured by then.
    const int sxStatus = sx.Wait(nullptr, 20000);
    r.seconds = Since(t0, Clock::now());
    const int rxStatus = rx.Wait(nullptr, 5000);
    r.dataPhase = relay->DataPhase();
    relay.reset();
    std::ifstream x(file, std::ios::binary), y(rxDir / "received", std::ios::binary);
    const std::string sent((std::istreambuf_iterator<char>(x)), {});
    const std::string got((std::istreambuf_iterator<char>(y)), {});
    r.ok = sent == got;
    r.closed = sxStatus == 0 && rxStatus == 0;
    return r;
}

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

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
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
    Paths paths{TARGET_SIM_PATH, DOWNLOAD_CLI_PATH,
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
    const fs::path plain = paths.work / "image.bin", eup = paths.work / "image.EUP",
                   upl = paths.work / "image.UPL";
    WriteBytes(plain, image);
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
        Child sim = Spawn({paths.sim, "--type", "1", "--mute-after", "4"});
        const std::string port = FirstLine(sim, 5000);
        Child cli =
            Spawn({paths.cli, "--json", "--type", "1", "--timeout", "9", "--port", port, upl});
        std::optional<Clock::time_point> connected;
        while (!connected && cli.ReadLines(1000, [&](const std::string& l, Clock::time_point t) {
            if (l.find("\"event\":\"connected\"") != std::string::npos) {
                connected = t;
            }
        })) {
        }
        auto cpuTicks = [&] {
            std::ifstream stat("/proc/" + std::to_string(cli.pid) + "/stat");
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
        while (cli.ReadLines(1000, [](const std::string&, Clock::time_point) {})) {
        }
        const int status = cli.Wait(nullptr);
        kill(sim.pid, SIGTERM);
        LastLines(sim);
        sim.Wait(nullptr);
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
            std::vector<Child> sims;
            std::vector<std::string> args{paths.cli, "--type", "1"};
            if (machines > 1) {
                args.push_back("--parallel");
            }
            for (int i = 0; i < machines; ++i) {
                sims.push_back(Spawn({paths.sim, "--type", "1", "--expect", plain.string(),
                                      "--baud", std::to_string(kBaud[1])}));
                args.push_back("--port");
                args.push_back(FirstLine(sims.back(), 5000));
            }
            args.push_back(upl.string());
            const auto t0 = Clock::now();
            Child cli = Spawn(args);
            while (cli.ReadLines(1000, [](const std::string&, Clock::time_point) {})) {
            }
            rusage usage{};
            g.exitStatus = cli.Wait(&usage);
            g.wall = Since(t0, Clock::now());
            g.peakKb = usage.ru_maxrss;
            for (Child& sim : sims) {
                kill(sim.pid, SIGTERM);
                g.whole += LastLines(sim).find("matches the expected image") != std::string::npos;
                sim.Wait(nullptr);
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
