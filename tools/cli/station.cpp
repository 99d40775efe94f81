// download-cli's production station: every --port a fixture position with
// a loop of its own; see station.h.
#include "tools/cli/station.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "station/station.h"
#include "tools/cli/console.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/report.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBoardEvery = std::chrono::milliseconds(200);

// A position as the board shows it, and its output.
struct Position {
    int number = 0;    // from 1, in the order of --port
    std::string name;  // as given with --port
    std::unique_ptr<Output> output;
    UnitEvents events;  // the output's
    bool seenRunning = false;
    // What the board shows.
    std::string state = "starting";
    int percent = -1;
    std::string last = "-";
    int passed = 0, failed = 0;
};

std::string Fit(const std::string& text, std::size_t width) {
    std::string s = text.size() > width ? text.substr(0, width - 1) + "~" : text;
    s.resize(width, ' ');
    return s;
}

// The terminal's view: the lines logged so far scroll as usual, and under
// them the board, cleared and drawn again in place. Off the board is never
// drawn and lines are simply printed.
class Board {
  public:
    explicit Board(bool on) : m_on(on) {}

    void Log(const std::string& line) {
        Clear();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        m_due = true;
    }

    // Before anything else is written to the terminal (stderr included).
    void Clear() {
        if (m_drawn > 0) {
            std::printf("\x1b[%dA\r\x1b[J", m_drawn);
            m_drawn = 0;
            m_due = true;
        }
    }

    // Draws the board when it has changed, at most every kBoardEvery
    // unless `now`.
    void Draw(const std::vector<Position>& positions, bool now) {
        if (!m_on || (!now && Clock::now() - m_drawnAt < kBoardEvery)) {
            return;
        }
        int passed = 0, failed = 0;
        std::string text = " # " + Fit("port", 15) + Fit("state", 21) + "   %  " +
                           Fit("last result", 19) + "pass  fail\n";
        for (const Position& p : positions) {
            char percent[16] = "   ";
            if (p.percent >= 0) {
                std::snprintf(percent, sizeof percent, "%3d", p.percent);
            }
            char counts[32];
            std::snprintf(counts, sizeof counts, "%4d  %4d", p.passed, p.failed);
            char number[16];
            std::snprintf(number, sizeof number, "%2d ", p.number);
            text += number + Fit(p.name, 15) + Fit(p.state, 21) + percent + "  " + Fit(p.last, 19) +
                    counts + "\n";
            passed += p.passed;
            failed += p.failed;
        }
        char total[96];
        std::snprintf(total, sizeof total, "%s%4d  %4d\n",
                      Fit("   station", 3 + 15 + 21 + 5 + 19).c_str(), passed, failed);
        text += total;
        if (!m_due && text == m_shown) {
            return;
        }
        Clear();
        std::fputs(text.c_str(), stdout);
        m_shown = text;
        std::fflush(stdout);
        m_drawn = static_cast<int>(positions.size()) + 2;
        m_drawnAt = Clock::now();
        m_due = false;
    }

  private:
    bool m_on;
    int m_drawn = 0;  // lines of the board on the screen now
    bool m_due = true;
    Clock::time_point m_drawnAt{};
    std::string m_shown;
};

const char* PortState(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Opened:
            return "waiting for a unit";
        case PortOutcome::OpenFailed:
            return "port did not open";
        case PortOutcome::SettingsRefused:
            return "settings refused";
        case PortOutcome::NoAnswer:
            return "waiting for a unit";
    }
    return "";
}

// "[3] ", before a position's plain lines.
std::string Lead(int position) {
    std::string lead = "[";
    lead += std::to_string(position);
    lead += "] ";
    return lead;
}

}  // namespace

int RunStation(const CliOptions& o, const LoadedImage& image, bool terminal) {
    StationSettings settings;
    settings.type = o.type;
    settings.image = o.image;
    settings.record = o.record;
    settings.timeoutSeconds = o.timeoutSeconds;
    settings.ports = o.ports;
    StationOptions options;
    options.loop = o.loop;
    options.fast = o.fast;
    options.tellEvents = true;

    Board board(terminal && o.loop && !o.json);
    std::vector<Position> positions(o.ports.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        Position& p = positions[i];
        p.number = static_cast<int>(i) + 1;
        p.name = o.ports[i];
        p.output = std::make_unique<Output>(o, true, false);
        if (o.json) {
            p.output->SetPosition(p.number, {}, false);
        } else if (o.loop) {
            const std::string lead = Lead(p.number);
            p.output->SetPosition(
                p.number, [&board, lead](const std::string& line) { board.Log(lead + line); },
                true);
        }
        p.events = p.output->Events();
    }

    int worst = 0, failed = 0, passed = 0;
    bool recordFailed = false;

    // What each position did, told on this thread in the order it did it.
    class Listener : public StationEvents {
      public:
        explicit Listener(std::function<void(std::size_t, const PositionEvent&)> told)
            : m_told(std::move(told)) {}
        void Told(std::size_t index, const PositionEvent& e) override { m_told(index, e); }

      private:
        std::function<void(std::size_t, const PositionEvent&)> m_told;
    };
    Listener listener([&](std::size_t index, const PositionEvent& e) {
        Position& p = positions[index];
        switch (e.kind) {
            case PositionEvent::Kind::PortTried:
                p.state = PortState(e.outcome);
                p.events.portTried(e.port, e.outcome, e.reason);
                break;
            case PositionEvent::Kind::PortNotClosed:
                board.Clear();
                std::fprintf(stderr, "download-cli: closing %s: %s\n", e.port.c_str(),
                             e.reason.c_str());
                break;
            case PositionEvent::Kind::Connected:
                p.state = "programming";
                p.percent = 0;
                p.events.connected(e.port);
                break;
            case PositionEvent::Kind::Progress:
                p.percent = e.total ? static_cast<int>(std::min<std::uint64_t>(
                                          std::uint64_t{e.sent} * 100 / e.total, 100))
                                    : 100;
                p.events.progress(e.sent, e.total);
                break;
            case PositionEvent::Kind::UnitEnded: {
                const UnitOutcome& u = e.unit;
                board.Clear();  // a record that fails is said on stderr
                if (!e.recordError.empty()) {
                    std::fprintf(stderr, "download-cli: writing a record to %s: %s\n",
                                 o.record.c_str(), e.recordError.c_str());
                    recordFailed = true;
                }
                p.output->Result(u);
                worst = std::max(worst, ExitStatusOf(u, LastInterrupt()));
                p.percent = -1;
                p.state = "waiting for a unit";
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, " %.1f s", u.seconds);
                p.last = ResultName(u.result) + std::string(seconds);
                if (u.result != UnitResult::Interrupted) {
                    (u.result == UnitResult::Done ? p.passed : p.failed) += 1;
                    (u.result == UnitResult::Done ? passed : failed) += 1;
                    if (o.loop) {
                        if (o.json) {
                            std::printf(
                                "{\"position\":%d,\"event\":\"units\",\"passed\":%d,"
                                "\"failed\":%d,\"station_passed\":%d,"
                                "\"station_failed\":%d}\n",
                                p.number, p.passed, p.failed, passed, failed);
                            std::fflush(stdout);
                        } else {
                            board.Log(Lead(p.number) + "units: " + std::to_string(p.passed) +
                                      " passed, " + std::to_string(p.failed) +
                                      " failed; station: " + std::to_string(passed) + " passed, " +
                                      std::to_string(failed) + " failed");
                        }
                    }
                }
                break;
            }
        }
    });

    Station station(settings, image, &listener, options);
    std::string error;
    if (!station.Open(error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return kExitBadArguments;
    }
    station.Start();
    auto step = [&] {
        const int signal = StopSignal();
        if (signal != 0) {
            station.StopNow(InterruptReason(signal));
        } else if (o.loop && InterruptCount() > 0) {
            // The first Ctrl+C: units under way finish, waiting stops.
            station.Stop(InterruptReason(LastInterrupt()));
        }
        station.Step();
        for (std::size_t i = 0; i < positions.size(); ++i) {
            Position& p = positions[i];
            const bool stopped = station.Positions()[i].state == PositionState::Stopped;
            p.seenRunning = p.seenRunning || !stopped;
            if (stopped && (p.seenRunning || !station.Running())) {
                p.state = "stopped";
            }
        }
        board.Draw(positions, false);
        return !station.Running();
    };
    while (!headless::RunInRealTime(step, 60 * 1000)) {
    }
    station.Step();  // whatever the last position told as it stopped
    board.Draw(positions, true);
    if (!o.loop) {
        return recordFailed ? kExitRecordFailed : worst;
    }
    if (recordFailed) {
        return kExitRecordFailed;
    }
    return StopSignal() != 0 ? 128 + LastInterrupt() : (failed ? 1 : 0);
}
