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
#include "tools/cli/console.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/report.h"

namespace {

using Clock = std::chrono::steady_clock;

// A unit that has run this long is given up (the scan is bounded by its one
// port, the download by the silence timeout: this is a safety net).
constexpr auto kUnitLimit = std::chrono::hours(1);
constexpr auto kBoardEvery = std::chrono::milliseconds(200);

struct Position {
    int number = 0;    // from 1, in the order of --port
    std::string name;  // as given with --port
    std::unique_ptr<UnitRunner> runner;
    std::unique_ptr<Output> output;
    bool running = false;  // a unit, or the wait for one, is under way
    bool ended = false;    // serves no more units
    Clock::time_point started{};
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

int RunStation(const CliOptions& o, const LoadedImage& image, const RecordUnit& record,
               bool terminal) {
    Board board(terminal && o.loop && !o.json);
    std::vector<Position> positions(o.ports.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        Position& p = positions[i];
        p.number = static_cast<int>(i) + 1;
        p.name = o.ports[i];
        p.runner = std::make_unique<UnitRunner>(UnitSettingsOf(o), std::vector<std::string>{p.name},
                                                image);
        p.runner->Prepare();
        p.output = std::make_unique<Output>(o, true, false);
        if (o.json) {
            p.output->SetPosition(p.number, {}, false);
        } else if (o.loop) {
            const std::string lead = Lead(p.number);
            p.output->SetPosition(
                p.number, [&board, lead](const std::string& line) { board.Log(lead + line); },
                true);
        }
    }

    auto start = [&](Position& p) {
        UnitEvents events = p.output->Events();
        events.portTried = [&p, told = events.portTried](const std::string& port,
                                                         PortOutcome outcome,
                                                         const std::string& reason) {
            p.state = PortState(outcome);
            told(port, outcome, reason);
        };
        events.connected = [&p, told = events.connected](const std::string& port) {
            p.state = "programming";
            p.percent = 0;
            told(port);
        };
        events.progress = [&p, told = events.progress](std::uint32_t sent, std::uint32_t total) {
            p.percent = total ? static_cast<int>(
                                    std::min<std::uint64_t>(std::uint64_t{sent} * 100 / total, 100))
                              : 100;
            told(sent, total);
        };
        events.portNotClosed = [&board](const std::string& port, const std::string& reason) {
            board.Clear();
            std::fprintf(stderr, "download-cli: closing %s: %s\n", port.c_str(), reason.c_str());
        };
        p.runner->Start(events);
        p.running = true;
        p.started = Clock::now();
        p.percent = -1;
        if (p.state == "starting" || p.state == "programming") {
            p.state = "waiting for a unit";
        }
    };

    int worst = 0, failed = 0, passed = 0;
    bool recordFailed = false;
    // No further unit is started once an interrupt came or a record failed.
    auto winding = [&] { return InterruptCount() > 0 || recordFailed; };

    auto ended = [&](Position& p) {
        const UnitOutcome u = p.runner->Outcome();
        if (o.loop && p.runner->OnlyWaited()) {
            // Waiting for the next unit to be attached: not a unit yet.
            if (u.result == UnitResult::NoMachine && !winding()) {
                start(p);
            } else {
                p.ended = true;
                p.state = "stopped";
            }
            return;
        }
        board.Clear();  // a record that fails is said on stderr
        if (!record(u, p.number)) {
            recordFailed = true;
        }
        p.output->Result(u);
        worst = std::max(worst, ExitStatusOf(u, LastInterrupt()));
        p.percent = -1;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, " %.1f s", u.seconds);
        p.last = ResultName(u.result) + std::string(seconds);
        if (u.result != UnitResult::Interrupted) {
            (u.result == UnitResult::Done ? p.passed : p.failed) += 1;
            (u.result == UnitResult::Done ? passed : failed) += 1;
            if (o.loop) {
                if (o.json) {
                    std::printf(
                        "{\"position\":%d,\"event\":\"units\",\"passed\":%d,\"failed\":%d,"
                        "\"station_passed\":%d,\"station_failed\":%d}\n",
                        p.number, p.passed, p.failed, passed, failed);
                    std::fflush(stdout);
                } else {
                    board.Log(Lead(p.number) + "units: " + std::to_string(p.passed) + " passed, " +
                              std::to_string(p.failed) +
                              " failed; station: " + std::to_string(passed) + " passed, " +
                              std::to_string(failed) + " failed");
                }
            }
        }
        if (o.loop && u.result != UnitResult::Interrupted && !winding()) {
            start(p);
        } else {
            p.ended = true;
            p.state = "stopped";
        }
    };

    auto step = [&] {
        const int signal = StopSignal();
        for (Position& p : positions) {
            if (!p.running) {
                continue;
            }
            if (signal != 0) {
                p.runner->Interrupt(InterruptReason(signal));
            } else if (winding() && o.loop && !p.runner->Answered()) {
                // Only waiting for a unit: nothing to finish.
                p.runner->Interrupt(InterruptReason(LastInterrupt()));
            } else if (Clock::now() - p.started > kUnitLimit) {
                p.runner->GiveUp();
            }
            if (p.runner->Finished()) {
                p.running = false;
                ended(p);
            }
        }
        board.Draw(positions, false);
        return std::all_of(positions.begin(), positions.end(),
                           [](const Position& p) { return p.ended; });
    };

    for (Position& p : positions) {
        start(p);
    }
    while (!headless::RunInRealTime(step, 60 * 1000)) {
    }
    board.Draw(positions, true);
    if (!o.loop) {
        return recordFailed ? kExitRecordFailed : worst;
    }
    if (recordFailed) {
        return kExitRecordFailed;
    }
    return StopSignal() != 0 ? 128 + LastInterrupt() : (failed ? 1 : 0);
}
