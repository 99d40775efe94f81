// download-cli's production station: every --port a fixture position with
// a loop of its own; see station.h.
#include "tools/cli/station.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "image/machine_types.h"
#include "station/position_words.h"
#include "station/station.h"
#include "tools/cli/console.h"
#include "tools/cli/input_lines.h"
#include "tools/cli/interrupts.h"
#include "tools/cli/report.h"
#include "ui/unit_runner.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kBoardEvery = std::chrono::milliseconds(200);
// The state column: the panels' words ("Programming, then stopping"), and
// the start of why a port did not open; the board fits 80 columns.
constexpr std::size_t kStateWidth = 28;

// A position as the board shows it, and its output.
struct Position {
    int number = 0;    // from 1, in the order of --port
    std::string name;  // as given with --port
    std::unique_ptr<Output> output;
    UnitEvents events;  // the output's
    // Its units: this run's, or the day's for a station file's station.
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
    // The words are the station window's (station/position_words.h).
    void Draw(const std::vector<Position>& positions, const std::vector<PositionView>& views,
              bool now) {
        if (!m_on || (!now && Clock::now() - m_drawnAt < kBoardEvery)) {
            return;
        }
        int passed = 0, failed = 0;
        std::string text = " # " + Fit("port", 15) + Fit("state", kStateWidth) + "   %  " +
                           Fit("last result", 19) + "pass  fail\n";
        for (std::size_t i = 0; i < positions.size(); ++i) {
            const Position& p = positions[i];
            const PositionView& v = views[i];
            char percent[16] = "   ";
            if (v.state == PositionState::Programming || v.state == PositionState::Finishing) {
                std::snprintf(percent, sizeof percent, "%3d", v.percent);
            }
            char counts[32];
            std::snprintf(counts, sizeof counts, "%4d  %4d", p.passed, p.failed);
            char number[16];
            std::snprintf(number, sizeof number, "%2d ", p.number);
            text += number + Fit(p.name, 15) + Fit(StateWords(v), kStateWidth) + percent + "  " +
                    Fit(LastUnitWords(v), 19) + counts + "\n";
            passed += p.passed;
            failed += p.failed;
        }
        char total[96];
        std::snprintf(total, sizeof total, "%s%4d  %4d\n",
                      Fit("   station", 3 + 15 + kStateWidth + 5 + 19).c_str(), passed, failed);
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

// "[3] ", before a position's plain lines.
std::string Lead(int position) {
    std::string lead = "[";
    lead += std::to_string(position);
    lead += "] ";
    return lead;
}

// What the operator should know before the first unit: an image the
// machine will not get whole, or will be told the wrong length of.
void WarnAboutImage(const CliOptions& o, const LoadedImage& image) {
    const std::size_t n = image.bytes.size();
    if (image.Cut()) {
        std::fprintf(stderr,
                     "download-cli: %s is %llu bytes; only its first %zu are programmed and "
                     "recorded\n",
                     o.image.c_str(), static_cast<unsigned long long>(image.fileSize), n);
    }
    const MachineTypeInfo* info = FindMachineType(static_cast<MachineType>(o.type));
    if (info && info->protocol == ProtocolKind::CharProtocol && n >= 0x10000) {
        std::fprintf(stderr,
                     "download-cli: warning: a %s is told the image's length in 16 bits: "
                     "%zu bytes go out as a length of %zu\n",
                     info->name, n, n % 0x10000);
    }
}

// A line as it may be shown: what is not printable ASCII as \xNN.
std::string Printable(const std::string& line) {
    std::string text;
    for (const char c : line.substr(0, 100)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        } else {
            text += c;
        }
    }
    return line.size() > 100 ? text + "..." : text;
}

}  // namespace

int RunStation(const CliOptions& o, bool board, bool terminal) {
    StationSettings settings;
    settings.type = o.type;
    settings.image = o.image;
    settings.sha256 = o.expectSha256;
    settings.record = o.record;
    settings.timeoutSeconds = o.timeoutSeconds;
    settings.ports = o.ports;
    settings.limit = o.limit;
    settings.serial = o.serial;
    StationOptions options;
    options.loop = o.loop;
    options.fast = o.fast;
    options.tellEvents = true;
    options.onePosition = !o.parallel;
    // A station file's station counts the day from its records, as the
    // window does; otherwise the counts are this run's.
    options.countDay = !o.stationFile.empty();

    Board boardShown(board && o.parallel && o.loop && !o.json);
    std::vector<Position> positions(o.parallel ? o.ports.size() : 1);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        Position& p = positions[i];
        p.number = static_cast<int>(i) + 1;
        if (!o.parallel) {
            // One unit at a time: every line and bar of its own.
            p.output = std::make_unique<Output>(o, false, terminal);
            p.events = p.output->Events();
            continue;
        }
        p.name = o.ports[i];
        p.output = std::make_unique<Output>(o, true, false);
        if (o.json) {
            p.output->SetPosition(p.number, {}, false);
        } else if (o.loop) {
            const std::string lead = Lead(p.number);
            p.output->SetPosition(
                p.number,
                [&boardShown, lead](const std::string& line) { boardShown.Log(lead + line); },
                true);
        }
        p.events = p.output->Events();
    }

    int worst = 0, failed = 0, passed = 0;  // the counts shown
    int runFailed = 0;                      // this run's units not done, for the exit status
    bool recordFailed = false;

    // What each position did, told on this thread in the order it did it.
    class Listener : public StationEvents {
      public:
        Listener(std::function<void(std::size_t, const PositionEvent&)> told,
                 std::function<void()> limitReached)
            : m_told(std::move(told)), m_limitReached(std::move(limitReached)) {}
        void Told(std::size_t index, const PositionEvent& e) override { m_told(index, e); }
        void LimitReached() override { m_limitReached(); }
        void SerialsUsedUp() override {
            std::fprintf(stderr, "download-cli: the serial numbers are used up\n");
        }

      private:
        std::function<void(std::size_t, const PositionEvent&)> m_told;
        std::function<void()> m_limitReached;
    };
    Listener listener(
        [&](std::size_t index, const PositionEvent& e) {
            Position& p = positions[index];
            switch (e.kind) {
                case PositionEvent::Kind::PortTried:
                    p.events.portTried(e.port, e.outcome, e.reason);
                    break;
                case PositionEvent::Kind::PortNotClosed:
                    boardShown.Clear();
                    std::fprintf(stderr, "download-cli: closing %s: %s\n", e.port.c_str(),
                                 e.reason.c_str());
                    break;
                case PositionEvent::Kind::Connected:
                    p.events.connected(e.port);
                    break;
                case PositionEvent::Kind::Progress:
                    p.events.progress(e.sent, e.total);
                    break;
                case PositionEvent::Kind::UnitEnded: {
                    const UnitOutcome& u = e.unit;
                    boardShown.Clear();  // a record that fails is said on stderr
                    if (!e.recordError.empty()) {
                        std::fprintf(stderr, "download-cli: writing a record to %s: %s\n",
                                     o.record.c_str(), e.recordError.c_str());
                        recordFailed = true;
                    }
                    p.output->Result(u);
                    worst = std::max(worst, ExitStatusOf(u, LastInterrupt()));
                    if (u.result != UnitResult::Interrupted) {
                        (u.result == UnitResult::Done ? p.passed : p.failed) += 1;
                        (u.result == UnitResult::Done ? passed : failed) += 1;
                        runFailed += u.result == UnitResult::Done ? 0 : 1;
                        if (o.loop && !o.parallel) {
                            p.output->Units(passed, failed);
                        } else if (o.loop) {
                            if (o.json) {
                                std::printf(
                                    "{\"position\":%d,\"event\":\"units\",\"passed\":%d,"
                                    "\"failed\":%d,\"station_passed\":%d,"
                                    "\"station_failed\":%d}\n",
                                    p.number, p.passed, p.failed, passed, failed);
                                std::fflush(stdout);
                            } else {
                                boardShown.Log(Lead(p.number) +
                                               "units: " + std::to_string(p.passed) + " passed, " +
                                               std::to_string(p.failed) +
                                               " failed; station: " + std::to_string(passed) +
                                               " passed, " + std::to_string(failed) + " failed");
                            }
                        }
                    }
                    break;
                }
            }
        },
        [&] {
            boardShown.Clear();
            std::fprintf(stderr, "download-cli: the limit of %d units is reached; stopping\n",
                         settings.limit);
        });

    // The image is read once, here: refused already if it is not a regular
    // file (never waited on), and the bytes read are both what every unit
    // is programmed with and what the records describe.
    LoadedImage image;
    StationRefusal refusal;
    const std::unique_ptr<Station> opened =
        OpenStation(settings, image, &UnitRunner::Make, &listener, options, refusal);
    if (!opened) {
        if (refusal.kind == StationRefusal::Kind::WrongImage) {
            std::fprintf(stderr,
                         "download-cli: %s is not the expected image: its SHA-256 is\n  %s\nnot\n "
                         " %s\n",
                         o.image.c_str(), refusal.actual.c_str(), refusal.expected.c_str());
        } else {
            std::fprintf(stderr, "download-cli: %s\n", refusal.error.c_str());
        }
        return kExitBadArguments;
    }
    Station& station = *opened;
    WarnAboutImage(o, image);
    if (options.countDay) {
        // The day's units so far, from the record file.
        for (std::size_t i = 0; i < positions.size(); ++i) {
            positions[i].passed = station.Positions()[i].counts.passed;
            positions[i].failed = station.Positions()[i].counts.failed;
        }
        passed = station.Totals().passed;
        failed = station.Totals().failed;
        if (const int unreadable = station.UnreadableRecords(); unreadable > 0) {
            std::fprintf(stderr,
                         "download-cli: %d %s of %s cannot be read (cut short, or not a "
                         "record); not counted\n",
                         unreadable, unreadable == 1 ? "line" : "lines",
                         station.Settings().record.c_str());
        }
    }
    if (std::string error; !station.Start(error)) {
        std::fprintf(stderr, "download-cli: %s\n", error.c_str());
        return kExitRecordFailed;
    }
    InputLines input;
    bool inputOpen = o.unitIds;
    // "POSITION ID": the ID goes to that position's next unit.
    auto takeUnitIds = [&] {
        std::vector<std::string> lines;
        inputOpen = input.Take(lines);
        for (const std::string& line : lines) {
            const std::size_t blank = line.find(' ');
            std::size_t position = 0;
            const std::string number = line.substr(0, blank);
            const auto [end, failure] =
                std::from_chars(number.data(), number.data() + number.size(), position);
            std::string error = "not \"POSITION ID\"";
            if (blank != std::string::npos && failure == std::errc() &&
                end == number.data() + number.size() && position >= 1 &&
                station.BindUnitId(position - 1, line.substr(blank + 1), error)) {
                continue;
            }
            boardShown.Clear();
            std::fprintf(stderr, "download-cli: unit ID line \"%s\" refused: %s\n",
                         Printable(line).c_str(), error.c_str());
        }
    };
    auto step = [&] {
        if (inputOpen) {
            takeUnitIds();
        }
        const int signal = StopSignal();
        if (signal != 0) {
            station.StopNow(InterruptReason(signal));
        } else if (o.loop && InterruptCount() > 0) {
            // The first Ctrl+C: units under way finish, waiting stops.
            station.Stop(InterruptReason(LastInterrupt()));
        }
        station.Step();
        boardShown.Draw(positions, station.Positions(), false);
        return !station.Running();
    };
    while (!headless::RunInRealTime(step, 60 * 1000)) {
    }
    station.Step();  // whatever the last position told as it stopped
    boardShown.Draw(positions, station.Positions(), true);
    if (!o.loop) {
        return recordFailed ? kExitRecordFailed : worst;
    }
    if (recordFailed) {
        return kExitRecordFailed;
    }
    return StopSignal() != 0 ? 128 + LastInterrupt() : (runFailed ? 1 : 0);
}
