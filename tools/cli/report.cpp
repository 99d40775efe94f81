// download-cli's output and its --record lines.
#include "tools/cli/report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "station/json.h"
#include "tools/cli/console.h"

namespace {

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
