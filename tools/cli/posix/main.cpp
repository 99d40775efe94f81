// download-cli: the download tool without a window, for production lines
// and service scripts.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "dt_version.h"
#include "framework/afxwin.h"
#include "image/machine_types.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/list_ports.h"
#include "tools/cli/sha256.h"
#include "tools/cli/unit.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted = true;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string UtcNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// A permission error on a serial device nearly always means the user is not
// in the group that owns the device.
std::string ExplainOpenError(const std::string& reason) {
    if (reason.find("Permission denied") != std::string::npos) {
        return reason + " (is the user in the 'dialout' group?)";
    }
    return reason;
}

class Output {
  public:
    Output(const CliOptions& o, bool quiet) : m_options(o), m_quiet(quiet), m_tty(isatty(1)) {}

    UnitEvents Events() {
        UnitEvents e;
        e.portTried = [this](const std::string& port, const std::string& what,
                             const std::string& reason) {
            if (m_options.json) {
                Line("{\"event\":\"port\",\"port\":" + JsonString(port) +
                     ",\"result\":" + JsonString(what) +
                     (reason.empty() ? "" : ",\"reason\":" + JsonString(ExplainOpenError(reason))) +
                     "}");
            } else if (!m_quiet && what != "opened") {
                // Between units, --loop scans again and again; each port's
                // state is told once per wait, not on every pass.
                const std::string line =
                    port + ": " + what + (reason.empty() ? "" : ": " + ExplainOpenError(reason));
                if (m_toldWhileWaiting.insert(line).second) {
                    Line(line);
                }
            }
        };
        e.connected = [this](const std::string& port) {
            m_start = std::chrono::steady_clock::now();
            m_lastTenth = -1;
            m_lastPercent = -1;
            if (m_options.json) {
                Line("{\"event\":\"connected\",\"port\":" + JsonString(port) + "}");
            } else if (!m_quiet) {
                Line(port + ": machine answered");
            }
        };
        e.progress = [this](std::uint32_t sent, std::uint32_t total) { Progress(sent, total); };
        return e;
    }

    void Result(const UnitOutcome& u) {
        EndBar();
        m_toldWhileWaiting.clear();
        if (m_options.json) {
            Line(std::string("{\"event\":") +
                 (u.result == UnitResult::Done ? "\"done\"" : "\"error\"") +
                 ",\"result\":" + JsonString(ResultName(u.result)) +
                 ",\"reason\":" + JsonString(u.reason) + ",\"port\":" + JsonString(u.port) +
                 ",\"sent\":" + std::to_string(u.sent) + ",\"total\":" + std::to_string(u.total) +
                 ",\"repeats\":" + std::to_string(u.repeats) + ",\"seconds\":" + Fixed(u.seconds) +
                 "}");
        } else {
            Line((u.port.empty() ? std::string("-") : u.port) + ": " + ResultName(u.result) + ", " +
                 std::to_string(u.sent) + " of " + std::to_string(u.total) + " bytes in " +
                 Fixed(u.seconds) + " s (" + u.reason + ")");
        }
    }

    // The running count of --loop.
    void Units(int passed, int failed) {
        if (m_options.json) {
            Line("{\"event\":\"units\",\"passed\":" + std::to_string(passed) +
                 ",\"failed\":" + std::to_string(failed) + "}");
        } else {
            Line("units: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                 " failed");
        }
    }

    void Line(const std::string& text) {
        EndBar();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

  private:
    static std::string Fixed(double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", v);
        return text;
    }

    void Progress(std::uint32_t sent, std::uint32_t total) {
        const unsigned percent = total ? static_cast<unsigned>(std::min<std::uint64_t>(
                                             std::uint64_t{sent} * 100 / total, 100))
                                       : 100;
        if (m_options.json) {
            if (static_cast<int>(percent) != m_lastPercent) {
                m_lastPercent = static_cast<int>(percent);
                Line("{\"event\":\"progress\",\"sent\":" + std::to_string(sent) + ",\"total\":" +
                     std::to_string(total) + ",\"percent\":" + std::to_string(percent) + "}");
            }
            return;
        }
        if (m_quiet) {
            return;
        }
        if (!m_tty) {
            const int tenth = static_cast<int>(percent / 10);
            if (tenth != m_lastTenth) {
                m_lastTenth = tenth;
                Line(std::to_string(tenth * 10) + "%: " + std::to_string(sent) + " of " +
                     std::to_string(total) + " bytes");
            }
            return;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        const double rate = elapsed > 0 ? sent / elapsed : 0;
        const double left = rate > 0 ? (total > sent ? total - sent : 0) / rate : 0;
        const int width = 30;
        const int filled = static_cast<int>(percent * width / 100);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(width - filled), '.');
        std::printf("\r[%s] %3u%%  %u/%u bytes  %.1f KiB/s  %.0f s left ", bar.c_str(), percent,
                    sent, total, rate / 1024, left);
        std::fflush(stdout);
        m_barShown = true;
    }

    void EndBar() {
        if (m_barShown) {
            std::printf("\n");
            m_barShown = false;
        }
    }

    const CliOptions& m_options;
    bool m_quiet;
    bool m_tty;
    bool m_barShown = false;
    std::set<std::string> m_toldWhileWaiting;
    int m_lastTenth = -1;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Record(const CliOptions& o, const UnitOutcome& u, const std::string& sha,
            std::size_t fileSize) {
    if (o.record.empty()) {
        return;
    }
    const std::string line =
        "{\"time\":" + JsonString(UtcNow()) + ",\"port\":" + JsonString(u.port) +
        ",\"type\":" + std::to_string(o.type) +
        ",\"machine\":" + JsonString(kMachineTypes[static_cast<std::size_t>(o.type)].name) +
        ",\"image\":" + JsonString(o.image) + ",\"size\":" + std::to_string(fileSize) +
        ",\"sha256\":" + JsonString(sha) + ",\"seconds\":" + std::to_string(u.seconds) +
        ",\"repeats\":" + std::to_string(u.repeats) +
        ",\"result\":" + JsonString(ResultName(u.result)) + ",\"reason\":" + JsonString(u.reason) +
        "}\n";
    std::ofstream(o.record, std::ios::app) << line;
}

// One unit, or units until interrupted. Returns the exit status.
int RunUnits(const CliOptions& o, bool quiet) {
    CWinApp app;
    UnitRunner runner(o);
    std::string error;
    if (!runner.Prepare(error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return 2;
    }
    const std::vector<std::uint8_t> file = ReadAll(o.image);
    const std::string sha = Sha256Hex(file);
    Output out(o, quiet);
    int passed = 0, failed = 0, status = 0;
    do {
        const UnitOutcome u = runner.Run(out.Events());
        if (o.loop && u.result == UnitResult::NoMachine) {
            // Waiting for the next unit to be attached: not a unit yet.
            continue;
        }
        out.Result(u);
        Record(o, u, sha, file.size());
        status = static_cast<int>(u.result);
        (u.result == UnitResult::Done ? passed : failed) += 1;
        if (o.loop) {
            out.Units(passed, failed);
        }
    } while (o.loop && !g_interrupted);
    return o.loop ? (failed ? 1 : 0) : status;
}

// Several machines at once: one process per port, one result line each.
int RunParallel(const CliOptions& o) {
    std::vector<pid_t> children;
    for (const std::string& port : o.ports) {
        const pid_t pid = fork();
        if (pid == 0) {
            CliOptions one = o;
            one.ports = {port};
            one.parallel = false;
            std::_Exit(RunUnits(one, true));
        }
        if (pid > 0) {
            children.push_back(pid);
        }
    }
    int worst = 0;
    for (const pid_t pid : children) {
        int st = 0;
        waitpid(pid, &st, 0);
        const int code = WIFEXITED(st) ? WEXITSTATUS(st) : 1;
        worst = std::max(worst, code);
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseCliOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "download-cli: %s\n\n%s", error.c_str(), kCliUsage);
        return 2;
    }
    if (options->help || options->version || options->listPorts) {
        const std::string text = options->help ? std::string(kCliUsage)
                                 : options->version
                                     ? std::string("download-cli " DT_VERSION "\n")
                                     : FormatPortList(DiscoverPorts(), options->json);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    if (options->fast) {
        SetFastFrames(true);
    }
    return options->parallel ? RunParallel(*options) : RunUnits(*options, false);
}
