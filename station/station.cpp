// A station's positions, each a loop of its own; see station.h.
#include "station/station.h"

#include <algorithm>
#include <ctime>
#include <map>

#include "framework/afxwin.h"
#include "framework/window_thread.h"
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

const char kStoppedNowReason[] = "the station was stopped at once";

}  // namespace

struct Station::Position {
    std::size_t index = 0;
    std::vector<std::string> ports;  // what its scans try
    CWindowThread thread;
    std::atomic<bool> servePosted{false};  // a Serve waits on the thread

    // The position's own thread only.
    std::unique_ptr<Unit> runner;
    bool running = false;  // a unit, or the wait for one, is under way
    std::uint64_t started = 0;

    // Published to the front end, under Station::m_lock.
    PositionView view;
    std::vector<PositionEvent> told;  // StationOptions::tellEvents
    bool changed = false;
    bool live = false;      // its loop runs
    bool answered = false;  // the unit under way has a machine
};

struct Station::Core {
    Core(const StationSettings& settings, const LoadedImage& image, UnitMaker makeUnit,
         const StationOptions& options)
        : m_settings(settings),
          m_image(image),
          m_makeUnit(std::move(makeUnit)),
          m_options(options),
          m_stationName(StationName()) {}

    // On a position's own thread.
    void Serve(Position& p);
    void StartUnit(Position& p);
    void Ended(Position& p);
    void EndPosition(Position& p);
    void Record(Position& p, const UnitOutcome& u);
    template <class Fn>
    void Publish(Position& p, Fn change);
    void CountsForToday();  // with m_recordLock held
    void PostServe(Position& p);
    void Tell(Position& p, PositionEvent event);
    std::string StopReason();

    const StationSettings m_settings;
    const LoadedImage m_image;
    const UnitMaker m_makeUnit;
    const StationOptions m_options;
    const std::string m_stationName;
    std::vector<std::unique_ptr<Position>> m_positions;

    std::mutex m_lock;  // guards what positions publish, m_recordErrors and m_stopReason
    std::vector<std::string> m_recordErrors;
    std::string m_stopReason;
    std::mutex m_recordLock;  // one record, and one count of the day, at a time
    RecordFile m_records;
    std::optional<DayCountRules> m_countedDay;  // the day the counts are of
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_stopNow{0};  // every port's abort flag
};

std::unique_ptr<Station> OpenStation(const StationSettings& settings, LoadedImage& image,
                                     UnitMaker makeUnit, StationEvents* events,
                                     const StationOptions& options, StationRefusal& refusal) {
    image = LoadedImage{};
    if (!ReadImage(settings.image, image, refusal.error)) {
        refusal.kind = StationRefusal::Kind::Image;
        return nullptr;
    }
    if (!settings.sha256.empty() && image.sha256 != settings.sha256) {
        refusal.kind = StationRefusal::Kind::WrongImage;
        refusal.expected = settings.sha256;
        refusal.actual = image.sha256;
        return nullptr;
    }
    auto station = std::make_unique<Station>(settings, image, std::move(makeUnit), events, options);
    if (!station->Open(refusal.error)) {
        refusal.kind = StationRefusal::Kind::Records;
        return nullptr;
    }
    return station;
}

DayCountRules TodaysCountRules() {
    using namespace std::chrono;
    const std::time_t now = std::time(nullptr);
    // Positions ask from their own threads: the C library's shared results
    // are copied out under a lock of our own.
    static std::mutex lock;
    std::tm local{}, utc{};
    {
        std::lock_guard<std::mutex> g(lock);
        local = *std::localtime(&now);
        utc = *std::gmtime(&now);
    }
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

Station::Station(const StationSettings& settings, const LoadedImage& image, UnitMaker makeUnit,
                 StationEvents* events, const StationOptions& options)
    : m_core(std::make_unique<Core>(settings, image, std::move(makeUnit), options)),
      m_events(events ? events : &m_noEvents) {
    const std::size_t n =
        m_core->m_options.onePosition
            ? 1
            : std::min<std::size_t>(m_core->m_settings.ports.size(), kMaxPositions);
    for (std::size_t i = 0; i < n; ++i) {
        auto p = std::make_unique<Position>();
        p->index = i;
        p->view.number = static_cast<int>(i) + 1;
        // The settings keep a port as it was written ("COM21"); the position
        // opens it by the name that opens it ("\\.\COM21" on Windows).
        if (m_core->m_options.onePosition) {
            for (const std::string& port : m_core->m_settings.ports) {
                p->ports.push_back(NormalPortName(port));
                p->view.port += (p->view.port.empty() ? "" : ", ") + p->ports.back();
            }
        } else {
            p->ports = {NormalPortName(m_core->m_settings.ports[i])};
            p->view.port = p->ports.front();
        }
        m_views.push_back(p->view);
        m_core->m_positions.push_back(std::move(p));
    }
    m_running.assign(n, false);
    m_underWay.assign(n, false);
}

Station::~Station() {
    // Every position stops at once and closes its port, each on its own
    // thread, all at the same time; then their threads are waited for
    // against one deadline.
    Core& c = *m_core;
    c.m_stopping = true;
    c.m_stopNow = 1;
    for (auto& p : c.m_positions) {
        Position* position = p.get();
        p->thread.Post([position] {
            if (position->runner) {
                position->runner->Interrupt(kStoppedNowReason);
            }
            position->runner.reset();  // closes the port and ends its worker
            position->running = false;
        });
        p->thread.Quit();
    }
    const std::uint64_t deadline = AfxTickCount() + kWindowThreadEndMs;
    bool allEnded = true;
    for (auto& p : c.m_positions) {
        const std::uint64_t now = AfxTickCount();
        allEnded = p->thread.Join(deadline > now ? deadline - now : 0) && allEnded;
    }
    if (!allEnded) {
        // A position is stuck in a call that does not return: what its
        // thread may still touch stays for the life of the process.
        (void)m_core.release();
    }
}

bool Station::Open(std::string& error) {
    if (m_core->m_settings.record.empty()) {
        return true;
    }
    std::lock_guard<std::mutex> records(m_core->m_recordLock);
    if (!m_core->m_records.IsOpen() && !m_core->m_records.Open(m_core->m_settings.record, error)) {
        error = "opening " + m_core->m_settings.record + ": " + error;
        return false;
    }
    if (!m_core->m_options.countDay) {
        return true;
    }
    const DayCountRules rules = TodaysCountRules();
    DayCounts counts;
    if (!ReadDayCounts(m_core->m_settings.record, rules, counts, error)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> g(m_core->m_lock);
        for (auto& p : m_core->m_positions) {
            p->view.counts = counts.positions[p->index];
            p->changed = true;
        }
    }
    m_core->m_countedDay = rules;
    Step();
    return true;
}

template <class Fn>
void Station::Core::Publish(Position& p, Fn change) {
    std::lock_guard<std::mutex> g(m_lock);
    change(p.view);
    p.changed = true;
}

void Station::Core::CountsForToday() {
    if (!m_options.countDay) {
        return;
    }
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
    std::lock_guard<std::mutex> g(m_lock);
    for (auto& p : m_positions) {
        p->view.counts = counts.positions[p->index];
        p->changed = true;
    }
    m_countedDay = today;
}

void Station::Start() {
    if (Running()) {
        return;
    }
    m_core->m_stopping = false;
    m_core->m_stopNow = 0;
    // The adapters behind the ports, for the panels: looked up once here;
    // each unit's record says what answered.
    const std::vector<PortDescription> present = DiscoverPorts();
    const UnitSettings unit{m_core->m_settings.type, m_core->m_settings.timeoutSeconds,
                            m_core->m_options.fast, &m_core->m_stopNow};
    // Two names for one device (an adapter's serial number and the device
    // it has now): the second position would fight the first for it.
    std::map<std::string, const Position*> devices;
    for (auto& pp : m_core->m_positions) {
        Position& p = *pp;
        ResolvedPort resolved;
        std::string error;
        const bool known =
            p.ports.size() == 1 && ResolvePortName(p.ports.front(), present, resolved, error);
        const Position* first = nullptr;
        if (known) {
            first = devices.emplace(PortNameKey(resolved.device), &p).first->second;
        }
        if (first != nullptr && first != &p) {
            PositionEvent refused;
            refused.kind = PositionEvent::Kind::PortTried;
            refused.port = p.ports.front();
            refused.outcome = PortOutcome::OpenFailed;
            const auto& written = m_core->m_settings.ports;
            refused.reason = written[p.index] + " is " + resolved.device + ", position " +
                             std::to_string(first->view.number) + "'s port " +
                             written[first->index];
            m_core->Tell(p, refused);
            m_core->Publish(p, [&](PositionView& v) { v.note = "not started: " + refused.reason; });
            continue;
        }
        {
            std::lock_guard<std::mutex> g(m_core->m_lock);
            if (known) {
                p.view.adapterSerial = resolved.present.serialNumber;
            }
            p.view.note.clear();
            p.live = true;
            p.changed = true;
        }
        m_running[p.index] = true;
        p.thread.Post([core = m_core.get(), &p, unit] {
            p.runner = core->m_makeUnit(unit, p.ports, core->m_image);
            p.runner->Prepare();
            core->StartUnit(p);
        });
    }
    m_wasRunning = true;
    m_events->RunningChanged(true);
}

void Station::Core::StartUnit(Position& p) {
    UnitEvents events;
    events.portTried = [this, &p](const std::string& port, PortOutcome outcome,
                                  const std::string& reason) {
        PositionEvent e;
        e.kind = PositionEvent::Kind::PortTried;
        e.port = port;
        e.outcome = outcome;
        e.reason = reason;
        Tell(p, std::move(e));
        std::string note;
        if (outcome == PortOutcome::OpenFailed) {
            note = "port did not open: " + reason;
        } else if (outcome == PortOutcome::SettingsRefused) {
            note = "port settings refused: " + reason;
        }
        Publish(p, [&](PositionView& v) { v.note = note; });
    };
    events.portNotClosed = [this, &p](const std::string& port, const std::string& reason) {
        PositionEvent e;
        e.kind = PositionEvent::Kind::PortNotClosed;
        e.port = port;
        e.reason = reason;
        Tell(p, std::move(e));
        Publish(p, [&](PositionView& v) { v.note = "port left open: " + reason; });
    };
    events.connected = [this, &p](const std::string& port) {
        PositionEvent e;
        e.kind = PositionEvent::Kind::Connected;
        e.port = port;
        Tell(p, std::move(e));
        const bool stopping = m_stopping;
        std::lock_guard<std::mutex> g(m_lock);
        p.view.state = stopping ? PositionState::Finishing : PositionState::Programming;
        p.view.percent = 0;
        p.view.note.clear();
        p.answered = true;
        p.changed = true;
    };
    events.progress = [this, &p](std::uint32_t sent, std::uint32_t total) {
        PositionEvent e;
        e.kind = PositionEvent::Kind::Progress;
        e.sent = sent;
        e.total = total;
        Tell(p, std::move(e));
        const int percent =
            total
                ? static_cast<int>(std::min<std::uint64_t>(std::uint64_t{sent} * 100 / total, 100))
                : 100;
        std::lock_guard<std::mutex> g(m_lock);
        if (percent != p.view.percent) {
            p.view.percent = percent;
            p.changed = true;
        }
    };
    // Served once the dialog's handler that decided it has returned.
    events.decided = [this, &p] { PostServe(p); };
    p.runner->Start(events);
    p.running = true;
    p.started = AfxTickCount();
    std::lock_guard<std::mutex> g(m_lock);
    p.view.state = PositionState::Waiting;
    p.view.percent = 0;
    p.answered = false;
    p.changed = true;
}

void Station::Core::Tell(Position& p, PositionEvent event) {
    if (m_options.tellEvents) {
        std::lock_guard<std::mutex> g(m_lock);
        p.told.push_back(std::move(event));
    }
}

std::string Station::Core::StopReason() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_stopReason;
}

void Station::Core::PostServe(Position& p) {
    if (!p.servePosted.exchange(true)) {
        p.thread.Post([this, &p] { Serve(p); });
    }
}

void Station::Stop(const std::string& reason) {
    {
        std::lock_guard<std::mutex> g(m_core->m_lock);
        if (!m_core->m_stopping) {
            m_core->m_stopReason = reason;
        }
        m_core->m_stopping = true;
        for (auto& p : m_core->m_positions) {
            if (p->view.state == PositionState::Programming) {
                p->view.state = PositionState::Finishing;
                p->changed = true;
            }
        }
    }
    Step();
}

void Station::StopNow(const std::string& reason) {
    {
        std::lock_guard<std::mutex> g(m_core->m_lock);
        if (m_core->m_stopNow == 0) {
            m_core->m_stopReason = reason;
        }
        m_core->m_stopping = true;
        m_core->m_stopNow = 1;
    }
    Step();
}

void Station::Core::Serve(Position& p) {
    p.servePosted = false;
    if (!p.running) {
        return;
    }
    if (m_stopNow != 0) {
        p.runner->Interrupt(StopReason());
    } else if (m_stopping && !p.runner->Answered()) {
        // Only waiting for a unit: nothing to finish.
        p.runner->Interrupt(StopReason());
    } else if (AfxTickCount() - p.started > kUnitLimitMs) {
        p.runner->GiveUp();
    }
    if (p.runner->Finished()) {
        p.running = false;
        Ended(p);
    }
}

void Station::Step() {
    std::vector<std::size_t> changed;
    std::vector<std::string> recordErrors;
    std::vector<std::vector<PositionEvent>> told(m_core->m_positions.size());
    {
        std::lock_guard<std::mutex> g(m_core->m_lock);
        for (auto& p : m_core->m_positions) {
            told[p->index].swap(p->told);
            if (p->changed) {
                p->changed = false;
                m_views[p->index] = p->view;
                changed.push_back(p->index);
            }
            m_running[p->index] = p->live;
            m_underWay[p->index] = p->live && p->answered;
        }
        recordErrors.swap(m_core->m_recordErrors);
    }
    for (std::size_t i = 0; i < told.size(); ++i) {
        for (const PositionEvent& e : told[i]) {
            m_events->Told(i, e);
        }
    }
    for (const std::string& message : recordErrors) {
        m_events->RecordFailed(message);
    }
    for (const std::size_t i : changed) {
        m_events->PositionChanged(i);
    }
    for (auto& p : m_core->m_positions) {
        if (m_running[p->index]) {
            m_core->PostServe(*p);
        }
    }
    if (m_wasRunning && !Running()) {
        m_wasRunning = false;
        m_events->RunningChanged(false);
    }
}

void Station::Core::Ended(Position& p) {
    const UnitOutcome u = p.runner->Outcome();
    if (m_options.loop && p.runner->OnlyWaited()) {
        // Waiting for the next unit to be attached: not a unit yet.
        if (u.result == UnitResult::NoMachine && !m_stopping) {
            StartUnit(p);
        } else {
            EndPosition(p);
        }
        return;
    }
    Record(p, u);
    Publish(p, [&](PositionView& v) {
        v.last = u;
        if (!u.adapterSerial.empty()) {
            v.adapterSerial = u.adapterSerial;
        }
        if (u.result != UnitResult::Interrupted) {
            (u.result == UnitResult::Done ? v.counts.passed : v.counts.failed) += 1;
        }
    });
    if (m_options.loop && u.result != UnitResult::Interrupted && !m_stopping) {
        StartUnit(p);
    } else {
        EndPosition(p);
    }
}

void Station::Core::Record(Position& p, const UnitOutcome& u) {
    PositionEvent e;
    e.kind = PositionEvent::Kind::UnitEnded;
    e.unit = u;
    {
        std::lock_guard<std::mutex> records(m_recordLock);
        // A new day's counts start from its records so far, this unit's not
        // yet among them.
        CountsForToday();
        const std::string line =
            RecordLine(m_settings.type, m_settings.image, u, m_image, m_stationName,
                       m_options.onePosition ? 0 : p.view.number);
        if (m_records.IsOpen() && !m_records.Append(line, e.recordError)) {
            if (e.recordError.empty()) {
                e.recordError = "not written";
            }
            std::lock_guard<std::mutex> g(m_lock);
            if (!m_stopping) {
                m_stopReason = "a record could not be written";
            }
            m_stopping = true;
            m_recordErrors.push_back("The record of position " + std::to_string(p.view.number) +
                                     " could not be written to " + m_settings.record + ": " +
                                     e.recordError);
        }
    }
    Tell(p, std::move(e));
}

void Station::Core::EndPosition(Position& p) {
    p.running = false;
    p.runner.reset();  // closes the port, restoring its settings
    std::lock_guard<std::mutex> g(m_lock);
    p.view.state = PositionState::Stopped;
    p.view.note.clear();
    p.view.percent = 0;
    p.live = false;
    p.answered = false;
    p.changed = true;
}

bool Station::Stopping() const {
    return m_core->m_stopping && Running();
}

const StationSettings& Station::Settings() const {
    return m_core->m_settings;
}

bool Station::Running() const {
    return std::any_of(m_running.begin(), m_running.end(), [](bool r) { return r; });
}

int Station::UnitsUnderWay() const {
    return static_cast<int>(std::count(m_underWay.begin(), m_underWay.end(), true));
}

PositionCounts Station::Totals() const {
    PositionCounts total;
    for (const PositionView& v : m_views) {
        total.passed += v.counts.passed;
        total.failed += v.counts.failed;
    }
    return total;
}

Unit* Station::RunnerOf(std::size_t index) const {
    return index < m_core->m_positions.size() ? m_core->m_positions[index]->runner.get() : nullptr;
}
