// The station as its front end sees it: commands, steps and what it
// shows; see station.h. What runs on the positions' threads is in
// station_core.cpp.
#include "station/station.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>

#include "framework/afxwin.h"
#include "framework/window_thread.h"
#include "serial/adapter_names.h"
#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "station/records.h"
#include "station/station_core.h"

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
    if (settings.serial.enabled &&
        !SerialFitsImage(settings.serial, image.bytes.size(), refusal.error)) {
        refusal.kind = StationRefusal::Kind::Serials;
        return nullptr;
    }
    auto station = std::make_unique<Station>(settings, image, std::move(makeUnit), events, options);
    if (!station->Open(refusal.error)) {
        refusal.kind = StationRefusal::Kind::Records;
        return nullptr;
    }
    return station;
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
    c.m_countsThread.Quit();
    const std::uint64_t deadline = AfxTickCount() + kWindowThreadEndMs;
    auto left = [deadline] {
        const std::uint64_t now = AfxTickCount();
        return deadline > now ? deadline - now : 0;
    };
    bool allEnded = true;
    for (auto& p : c.m_positions) {
        allEnded = p->thread.Join(left()) && allEnded;
    }
    allEnded = c.m_countsThread.Join(left()) && allEnded;
    if (!allEnded) {
        // A position is stuck in a call that does not return: what its
        // thread may still touch stays for the life of the process.
        (void)m_core.release();
    }
}

bool Station::Open(std::string& error) {
    const std::string& path = m_core->m_settings.record;
    const SerialPlan& serials = m_core->m_settings.serial;
    {
        std::lock_guard<std::mutex> records(m_core->m_recordLock);
        if (!path.empty() && !m_core->m_records.IsOpen() && !m_core->m_records.Open(path, error)) {
            error = "opening " + path + ": " + error;
            return false;
        }
        if (m_core->m_options.countDay || serials.enabled) {
            DayCountRules rules = m_core->Today();
            rules.serials = serials.enabled ? &serials : nullptr;
            DayCounts counts;
            if (!path.empty() && !ReadDayCounts(path, rules, counts, error)) {
                return false;
            }
            // The next serial number: above the one kept, and above every
            // one a done record holds.
            if (serials.enabled && !m_core->m_serials.Open(serials, SerialStatePath(path),
                                                           counts.highestSerialDone, error)) {
                return false;
            }
            if (m_core->m_options.countDay) {
                m_core->ShowCounts(counts, rules);
            }
        }
    }
    Step();
    return true;
}

int Station::DoneInFile() const {
    return m_core->m_doneInFile;
}

int Station::UnreadableRecords() const {
    return m_core->m_unreadable;
}

bool Station::Start(std::string& error) {
    if (Running()) {
        return true;
    }
    {
        // Records held from a failed write go first: no unit starts while
        // the file cannot take them.
        std::lock_guard<std::mutex> records(m_core->m_recordLock);
        if (!m_core->WriteHeldRecords(error)) {
            error = "writing the held records to " + m_core->m_settings.record + ": " + error +
                    " (the units they describe are not recorded yet)";
            return false;
        }
    }
    Step();  // the counts read back
    if (m_core->m_settings.serial.enabled && m_core->m_serials.UsedUp()) {
        error = "the serial numbers are used up (the last is " +
                std::to_string(m_core->m_settings.serial.last) + ")";
        return false;
    }
    if (const int limit = m_core->m_settings.limit; limit > 0 && m_core->m_doneInFile >= limit) {
        error = "the limit of " + std::to_string(limit) + " units is reached (" +
                std::to_string(m_core->m_doneInFile) + " done)";
        return false;
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
    return true;
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

void Station::Step() {
    LookAtTheDay();
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
    if (m_core->m_limitReached && !m_limitTold) {
        m_limitTold = true;
        m_events->LimitReached();
    }
    if (m_core->m_serialsUsedUp && !m_serialsTold) {
        m_serialsTold = true;
        m_events->SerialsUsedUp();
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

void Station::LookAtTheDay() {
    Core& c = *m_core;
    if (!c.m_options.countDay || c.m_countedDayNumber == std::numeric_limits<int>::min()) {
        return;
    }
    const int today =
        static_cast<int>(std::chrono::sys_days{c.Today().day}.time_since_epoch().count());
    if (today == c.m_countedDayNumber || c.m_countsPosted.exchange(true)) {
        return;
    }
    // Midnight, and no unit has ended since: the new day's counts are read
    // off this thread, as a unit's end would read them.
    c.m_countsThread.Post([core = &c] {
        {
            std::lock_guard<std::mutex> records(core->m_recordLock);
            core->CountsForToday();
        }
        core->m_countsPosted = false;
    });
}

bool CheckUnitId(const std::string& id, std::string& error) {
    if (id.empty()) {
        error = "an empty unit ID";
        return false;
    }
    if (id.size() > kMaxUnitIdLength) {
        error = "a unit ID of " + std::to_string(id.size()) + " characters (at most " +
                std::to_string(kMaxUnitIdLength) + ")";
        return false;
    }
    for (const char c : id) {
        if (c < 0x20 || c > 0x7E) {
            error = "a unit ID with a character that is not printable";
            return false;
        }
    }
    return true;
}

bool Station::BindUnitId(std::size_t index, const std::string& id, std::string& error) {
    if (index >= m_core->m_positions.size()) {
        error = "no position " + std::to_string(index + 1);
        return false;
    }
    if (!CheckUnitId(id, error)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> g(m_core->m_lock);
        Position& p = *m_core->m_positions[index];
        p.pendingId = id;
        p.view.nextUnitId = id;
        p.changed = true;
    }
    Step();
    return true;
}

bool Station::Stopping() const {
    return m_core->m_stopping && Running();
}

const StationSettings& Station::Settings() const {
    return m_core->m_settings;
}

bool Station::AppendEvent(const std::string& line, std::string& error) {
    const std::string& path = m_core->m_settings.record;
    if (path.empty()) {
        return true;
    }
    std::lock_guard<std::mutex> records(m_core->m_recordLock);
    if (!m_core->m_records.IsOpen() && !m_core->m_records.Open(path, error)) {
        error = "opening " + path + ": " + error;
        return false;
    }
    if (!m_core->m_records.Append(line, error)) {
        error = "writing to " + path + ": " + error;
        return false;
    }
    return true;
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
