// A station's positions, each a loop of its own; see station.h.
#include "station/station.h"

#include <algorithm>
#include <ctime>

#include "framework/afxwin.h"
#include "serial/adapter_names.h"
#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "station/computer_name.h"
#include "station/records.h"

namespace {

// A unit that has run this long is given up: the scan is bounded by its
// one port and the download by the silence timeout, so this is only a
// safety net.
constexpr std::uint64_t kUnitLimitMs = 3600 * 1000;

const char kStoppedReason[] = "the station was stopped";
const char kStoppedNowReason[] = "the station was stopped at once";

}  // namespace

struct Station::Position {
    std::unique_ptr<UnitRunner> runner;
    bool running = false;  // a unit, or the wait for one, is under way
    std::uint64_t started = 0;
};

DayCountRules TodaysCountRules() {
    using namespace std::chrono;
    const std::time_t now = std::time(nullptr);
    // Only the user-interface thread asks, so the C library's shared
    // results are safe to copy out here.
    const std::tm local = *std::localtime(&now);
    const std::tm utc = *std::gmtime(&now);
    auto dayOf = [](const std::tm& t) {
        return year_month_day{year{t.tm_year + 1900}, month{static_cast<unsigned>(t.tm_mon + 1)},
                              day{static_cast<unsigned>(t.tm_mday)}};
    };
    auto minutesOf = [&](const std::tm& t) {
        return sys_days{dayOf(t)}.time_since_epoch().count() * 1440L + t.tm_hour * 60L + t.tm_min;
    };
    DayCountRules rules;
    rules.day = dayOf(local);
    rules.utcOffsetMinutes = static_cast<int>(minutesOf(local) - minutesOf(utc));
    return rules;
}

Station::Station(const StationSettings& settings, const LoadedImage& image, StationEvents* events)
    : m_settings(settings), m_image(image), m_events(events ? events : &m_noEvents) {
    const std::size_t n = std::min<std::size_t>(m_settings.ports.size(), kMaxPositions);
    for (std::size_t i = 0; i < n; ++i) {
        m_positions.push_back(std::make_unique<Position>());
        PositionView view;
        view.number = static_cast<int>(i) + 1;
        // The file keeps a port as it was written ("COM21"); the position
        // opens it by the name that opens it ("\\.\COM21" on Windows).
        view.port = NormalPortName(m_settings.ports[i]);
        m_views.push_back(view);
    }
    m_stationName = StationName();
}

Station::~Station() {
    m_stopNow = 1;
    for (auto& p : m_positions) {
        p->runner.reset();  // closes the port and ends its worker
    }
}

bool Station::Open(std::string& error) {
    if (m_settings.record.empty()) {
        return true;
    }
    if (!m_records.IsOpen() && !m_records.Open(m_settings.record, error)) {
        error = "opening " + m_settings.record + ": " + error;
        return false;
    }
    const DayCountRules rules = TodaysCountRules();
    DayCounts counts;
    if (!ReadDayCounts(m_settings.record, rules, counts, error)) {
        return false;
    }
    for (std::size_t i = 0; i < m_views.size(); ++i) {
        m_views[i].counts = counts.positions[i];
        Changed(i);
    }
    m_countedDay = rules;
    return true;
}

void Station::CountsForToday() {
    const DayCountRules today = TodaysCountRules();
    if (m_countedDay && m_countedDay->day == today.day) {
        return;
    }
    // A new day: its counts start from its records, if any are there yet.
    DayCounts counts;
    std::string error;
    if (!m_settings.record.empty() && !ReadDayCounts(m_settings.record, today, counts, error)) {
        counts = DayCounts{};
    }
    for (std::size_t i = 0; i < m_views.size(); ++i) {
        m_views[i].counts = counts.positions[i];
        Changed(i);
    }
    m_countedDay = today;
}

void Station::Start() {
    if (Running()) {
        return;
    }
    m_stopping = false;
    m_stopNow = 0;
    // The adapters behind the ports, for the panels: looked up once here;
    // each unit's record says what answered.
    const std::vector<PortDescription> present = DiscoverPorts();
    const UnitSettings unit{m_settings.type, m_settings.timeoutSeconds, false, &m_stopNow};
    for (std::size_t i = 0; i < m_positions.size(); ++i) {
        ResolvedPort resolved;
        std::string error;
        if (ResolvePortName(m_views[i].port, present, resolved, error)) {
            m_views[i].adapterSerial = resolved.present.serialNumber;
        }
        Position& p = *m_positions[i];
        p.runner =
            std::make_unique<UnitRunner>(unit, std::vector<std::string>{m_views[i].port}, m_image);
        p.runner->Prepare();
        StartUnit(i);
    }
    m_wasRunning = true;
    m_events->RunningChanged(true);
}

void Station::StartUnit(std::size_t i) {
    Position& p = *m_positions[i];
    PositionView& view = m_views[i];
    UnitEvents events;
    events.portTried = [this, i](const std::string&, PortOutcome outcome,
                                 const std::string& reason) {
        std::string note;
        if (outcome == PortOutcome::OpenFailed) {
            note = "port did not open: " + reason;
        } else if (outcome == PortOutcome::SettingsRefused) {
            note = "port settings refused: " + reason;
        }
        if (note != m_views[i].note) {
            m_views[i].note = note;
            Changed(i);
        }
    };
    events.portNotClosed = [this, i](const std::string&, const std::string& reason) {
        m_views[i].note = "port left open: " + reason;
        Changed(i);
    };
    events.connected = [this, i](const std::string&) {
        m_views[i].state = m_stopping ? PositionState::Finishing : PositionState::Programming;
        m_views[i].percent = 0;
        m_views[i].note.clear();
        Changed(i);
    };
    events.progress = [this, i](std::uint32_t sent, std::uint32_t total) {
        const int percent =
            total
                ? static_cast<int>(std::min<std::uint64_t>(std::uint64_t{sent} * 100 / total, 100))
                : 100;
        if (percent != m_views[i].percent) {
            m_views[i].percent = percent;
            Changed(i);
        }
    };
    events.decided = [this] { m_events->StepWanted(); };
    p.runner->Start(events);
    p.running = true;
    p.started = AfxTickCount();
    view.state = PositionState::Waiting;
    view.percent = 0;
    Changed(i);
}

void Station::Stop() {
    m_stopping = true;
    for (std::size_t i = 0; i < m_views.size(); ++i) {
        if (m_views[i].state == PositionState::Programming) {
            m_views[i].state = PositionState::Finishing;
            Changed(i);
        }
    }
    Step();
}

void Station::StopNow() {
    m_stopping = true;
    m_stopNow = 1;
    Step();
}

void Station::Step() {
    for (std::size_t i = 0; i < m_positions.size(); ++i) {
        Position& p = *m_positions[i];
        if (!p.running) {
            continue;
        }
        if (m_stopNow != 0) {
            p.runner->Interrupt(kStoppedNowReason);
        } else if (m_stopping && !p.runner->Answered()) {
            // Only waiting for a unit: nothing to finish.
            p.runner->Interrupt(kStoppedReason);
        } else if (AfxTickCount() - p.started > kUnitLimitMs) {
            p.runner->GiveUp();
        }
        if (p.runner->Finished()) {
            p.running = false;
            Ended(i);
        }
    }
    if (m_wasRunning && !Running()) {
        m_wasRunning = false;
        m_events->RunningChanged(false);
    }
}

void Station::Ended(std::size_t i) {
    Position& p = *m_positions[i];
    PositionView& view = m_views[i];
    const UnitOutcome u = p.runner->Outcome();
    if (p.runner->OnlyWaited()) {
        // Waiting for the next unit to be attached: not a unit yet.
        if (u.result == UnitResult::NoMachine && !m_stopping) {
            StartUnit(i);
        } else {
            EndPosition(i);
        }
        return;
    }
    // A new day's counts start from its records so far, this unit's not yet
    // among them.
    CountsForToday();
    if (m_records.IsOpen()) {
        std::string error;
        const std::string line =
            RecordLine(m_settings.type, m_settings.image, u, m_image, m_stationName, view.number);
        if (!m_records.Append(line, error)) {
            m_stopping = true;
            m_events->RecordFailed("The record of position " + std::to_string(view.number) +
                                   " could not be written to " + m_settings.record + ": " + error);
        }
    }
    view.last = u;
    if (!u.adapterSerial.empty()) {
        view.adapterSerial = u.adapterSerial;
    }
    if (u.result != UnitResult::Interrupted) {
        (u.result == UnitResult::Done ? view.counts.passed : view.counts.failed) += 1;
    }
    if (u.result != UnitResult::Interrupted && !m_stopping) {
        StartUnit(i);
    } else {
        EndPosition(i);
    }
    Changed(i);
}

void Station::EndPosition(std::size_t i) {
    m_positions[i]->running = false;
    m_positions[i]->runner.reset();  // closes the port, restoring its settings
    m_views[i].state = PositionState::Stopped;
    m_views[i].percent = 0;
    Changed(i);
}

void Station::Changed(std::size_t i) {
    m_events->PositionChanged(i);
}

bool Station::Running() const {
    return std::any_of(m_positions.begin(), m_positions.end(),
                       [](const auto& p) { return p->running; });
}

int Station::UnitsUnderWay() const {
    int n = 0;
    for (std::size_t i = 0; i < m_positions.size(); ++i) {
        n += m_positions[i]->running && m_positions[i]->runner->Answered() ? 1 : 0;
    }
    return n;
}

PositionCounts Station::Totals() const {
    PositionCounts total;
    for (const PositionView& v : m_views) {
        total.passed += v.counts.passed;
        total.failed += v.counts.failed;
    }
    return total;
}

UnitRunner* Station::RunnerOf(std::size_t index) const {
    return index < m_positions.size() ? m_positions[index]->runner.get() : nullptr;
}
