// download-cli's output and its --record lines.
#include "tools/cli/report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "dt_version.h"
#include "framework/afxfile.h"
#include "image/machine_types.h"
#include "tools/cli/console.h"
#include "tools/cli/json.h"
#include "tools/cli/sha256.h"
#include "ui/download_dlg.h"

namespace {

// The time in UTC as 2026-12-10T08:15:00Z, by the calendar of <chrono>: the
// same on every platform, and no shared buffer for units that end at once.
std::string UtcTime(std::time_t t) {
    using namespace std::chrono;
    const auto when = time_point_cast<seconds>(system_clock::from_time_t(t));
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

// How a port's outcome reads, in the text and in the JSON "result"; in the
// order of PortOutcome.
const char* OutcomeName(PortOutcome outcome) {
    static constexpr const char* kNames[] = {"opened", "open failed", "settings refused",
                                             "no answer"};
    static_assert(static_cast<int>(PortOutcome::NoAnswer) == 3);
    return kNames[static_cast<std::size_t>(outcome)];
}

}  // namespace

Output::Output(const CliOptions& o, bool quiet, bool terminal)
    : m_options(o), m_quiet(quiet), m_tty(terminal) {}

UnitEvents Output::Events() {
    UnitEvents e;
    e.portTried = [this](const std::string& port, PortOutcome outcome, const std::string& reason) {
        const std::string what = OutcomeName(outcome);
        if (m_options.json) {
            Line("{\"event\":\"port\",\"port\":" + JsonString(port) +
                 ",\"result\":" + JsonString(what) +
                 (reason.empty() ? "" : ",\"reason\":" + JsonString(ExplainOpenError(reason))) +
                 "}");
        } else if ((!m_quiet || m_tellPorts) && outcome != PortOutcome::Opened) {
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
        m_port = port;
        if (m_options.json) {
            Line("{\"event\":\"connected\",\"port\":" + JsonString(port) + "}");
        } else if (!m_quiet) {
            Line(port + ": machine answered");
        }
    };
    e.progress = [this](std::uint32_t sent, std::uint32_t total) { Progress(sent, total); };
    return e;
}

void Output::Result(const UnitOutcome& u) {
    EndBar();
    m_toldWhileWaiting.clear();
    if (m_options.json) {
        Line(
            std::string("{\"event\":") + (u.result == UnitResult::Done ? "\"done\"" : "\"error\"") +
            ",\"result\":" + JsonString(ResultName(u.result)) +
            ",\"reason\":" + JsonString(u.reason) + ",\"port\":" + JsonString(u.port) +
            ",\"sent\":" + std::to_string(u.sent) + ",\"total\":" + std::to_string(u.total) +
            ",\"repeats\":" + std::to_string(u.repeats) + ",\"seconds\":" + Fixed(u.seconds) + "}");
    } else {
        Line((u.port.empty() ? std::string("-") : u.port) + ": " + ResultName(u.result) + ", " +
             std::to_string(u.sent) + " of " + std::to_string(u.total) + " bytes in " +
             Fixed(u.seconds) + " s (" + u.reason + ")");
    }
}

void Output::Units(int passed, int failed) {
    if (m_options.json) {
        Line("{\"event\":\"units\",\"passed\":" + std::to_string(passed) +
             ",\"failed\":" + std::to_string(failed) + "}");
    } else {
        Line("units: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed");
    }
}

void Output::Line(const std::string& text) {
    EndBar();
    if (m_position > 0 && m_options.json && text.starts_with('{')) {
        Emit("{\"position\":" + std::to_string(m_position) + "," + text.substr(1));
    } else {
        Emit(text);
    }
}

void Output::Emit(const std::string& text) {
    if (m_sink) {
        m_sink(text);
        return;
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void Output::SetPosition(int position, std::function<void(const std::string&)> sink,
                         bool tellPorts) {
    m_position = position;
    m_sink = std::move(sink);
    m_tellPorts = tellPorts;
}

std::string Output::Fixed(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

void Output::Progress(std::uint32_t sent, std::uint32_t total) {
    const unsigned percent =
        total
            ? static_cast<unsigned>(std::min<std::uint64_t>(std::uint64_t{sent} * 100 / total, 100))
            : 100;
    if (m_options.json) {
        if (static_cast<int>(percent) != m_lastPercent) {
            m_lastPercent = static_cast<int>(percent);
            // Several units' events share the output with --parallel: each
            // says whose it is.
            const std::string port =
                m_options.parallel ? ",\"port\":" + JsonString(m_port) : std::string();
            Line("{\"event\":\"progress\"" + port + ",\"sent\":" + std::to_string(sent) +
                 ",\"total\":" + std::to_string(total) + ",\"percent\":" + std::to_string(percent) +
                 "}");
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
                static_cast<unsigned>(sent), static_cast<unsigned>(total), rate / 1024, left);
    std::fflush(stdout);
    m_barShown = true;
}

void Output::EndBar() {
    if (m_barShown) {
        std::printf("\n");
        m_barShown = false;
    }
}

bool ReadImage(const std::string& path, LoadedImage& image, std::string& error) {
    std::vector<std::uint8_t> bytes(kImageCapacity);
    std::uint64_t size = 0;
    try {
        CFile file(path, CFile::modeRead | CFile::typeBinary);
        // One request for what the dialog takes, as its Load File makes;
        // the rest is only counted, for the record of a file that was cut.
        const UINT n = file.Read(bytes.data(), static_cast<UINT>(bytes.size()));
        bytes.resize(n);
        size = n;
        if (n == kImageCapacity) {
            std::uint8_t chunk[65536];
            for (UINT more = 1; more > 0; size += more) {
                more = file.Read(chunk, sizeof chunk);
            }
        }
    } catch (const CFileException& e) {
        error = e.Message();
        return false;
    }
    image.sha256 = Sha256Hex(bytes);
    image.bytes = std::move(bytes);
    image.fileSize = size;
    return true;
}

std::string RecordLine(const CliOptions& o, const UnitOutcome& u, const LoadedImage& image,
                       const std::string& station, int position) {
    // Where the unit was programmed: the station, its position, the port
    // and its adapter as far as they are known.
    std::string where = ",\"station\":" + JsonString(station) +
                        ",\"version\":" + JsonString(DT_VERSION) +
                        (position > 0 ? ",\"position\":" + std::to_string(position) : "") +
                        ",\"port\":" + JsonString(u.port);
    if (!u.portName.empty() && u.portName != u.port) {
        where += ",\"port_name\":" + JsonString(u.portName);
    }
    if (!u.adapterSerial.empty()) {
        where += ",\"adapter_serial\":" + JsonString(u.adapterSerial);
    }
    if (!u.adapterLocation.empty()) {
        where += ",\"adapter_location\":" + JsonString(u.adapterLocation);
    }
    return "{\"time\":" + JsonString(UtcTime(std::time(nullptr))) + where +
           ",\"type\":" + std::to_string(o.type) +
           ",\"machine\":" + JsonString(kMachineTypes[static_cast<std::size_t>(o.type)].name) +
           ",\"image\":" + JsonString(o.image) + ",\"size\":" + std::to_string(image.bytes.size()) +
           ",\"sha256\":" + JsonString(image.sha256) +
           (image.Cut() ? ",\"file_size\":" + std::to_string(image.fileSize) : std::string()) +
           ",\"seconds\":" + std::to_string(u.seconds) +
           ",\"repeats\":" + std::to_string(u.repeats) +
           ",\"result\":" + JsonString(ResultName(u.result)) +
           ",\"reason\":" + JsonString(u.reason) + "}\n";
}
