// A station's positions, each a loop of its own on its own thread: a unit
// started, served, recorded and counted, and the next started; see
// station.h and station_core.h.
#include "station/station_core.h"

#include <algorithm>

#include "framework/afxwin.h"
#include "station/records.h"

void Station::Core::ShowCounts(const DayCounts& counts, const DayCountRules& rules) {
    m_unreadable = counts.unreadable;
    m_doneInFile = counts.doneInFile;
    m_countedDay = rules;
    m_countedDayNumber =
        static_cast<int>(std::chrono::sys_days{rules.day}.time_since_epoch().count());
    std::lock_guard<std::mutex> g(m_lock);
    for (auto& p : m_positions) {
        p->view.counts = counts.positions[p->index];
        p->changed = true;
    }
}

void Station::Core::CountsForToday() {
    if (!m_options.countDay) {
        return;
    }
    const DayCountRules today = Today();
    if (m_countedDay && m_countedDay->day == today.day) {
        return;
    }
    // A new day: its counts start from its records, if any are there yet.
    DayCounts counts;
    std::string error;
    if (!m_settings.record.empty() && !ReadDayCounts(m_settings.record, today, counts, error)) {
        counts = DayCounts{};
    }
    ShowCounts(counts, today);
}

bool Station::Core::WriteHeldRecords(std::string& error) {
    if (m_heldRecords.empty()) {
        return true;
    }
    while (!m_heldRecords.empty()) {
        if (!m_records.Append(m_heldRecords.front(), error)) {
            return false;
        }
        m_heldRecords.erase(m_heldRecords.begin());
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (auto& p : m_positions) {
            if (!p->view.notRecorded.empty()) {
                p->view.notRecorded.clear();
                p->changed = true;
            }
        }
    }
    // Those units count now, on the day their records say: read back as
    // a restart would read them.
    m_countedDay.reset();
    CountsForToday();
    return true;
}

bool Station::Core::Reserve(Position& p) {
    if (m_settings.limit <= 0) {
        return true;
    }
    std::lock_guard<std::mutex> records(m_recordLock);
    if (p.reserved) {
        return true;
    }
    // Every position that may program holds a unit of the limit first, so
    // that the units under way can never take the station past it.
    if (m_doneInFile + m_reservedUnits >= m_settings.limit) {
        return false;
    }
    ++m_reservedUnits;
    p.reserved = true;
    return true;
}

void Station::Core::Release(Position& p) {
    if (p.reserved) {
        p.reserved = false;
        --m_reservedUnits;
    }
}

void Station::Core::StartUnit(Position& p) {
    if (!Reserve(p)) {
        EndPosition(p);
        const bool reached = m_doneInFile >= m_settings.limit;
        Publish(p, [&](PositionView& v) {
            v.note = reached
                         ? "the limit of " + std::to_string(m_settings.limit) + " units is reached"
                         : "the limit's last units are under way at other positions";
        });
        return;
    }
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
    std::string notRecorded;
    const Recorded recorded = Record(p, u, notRecorded);
    Publish(p, [&](PositionView& v) {
        v.last = u;
        v.notRecorded = notRecorded;
        if (!u.adapterSerial.empty()) {
            v.adapterSerial = u.adapterSerial;
        }
        // Counted only once recorded; when held records were written with
        // it, the counts were read back from the file, this unit among them.
        if (recorded == Recorded::Yes && u.result != UnitResult::Interrupted) {
            (u.result == UnitResult::Done ? v.counts.passed : v.counts.failed) += 1;
        }
    });
    if (m_options.loop && u.result != UnitResult::Interrupted && !m_stopping) {
        StartUnit(p);
    } else {
        EndPosition(p);
    }
}

Station::Core::Recorded Station::Core::Record(Position& p, const UnitOutcome& u,
                                              std::string& notRecorded) {
    PositionEvent e;
    e.kind = PositionEvent::Kind::UnitEnded;
    e.unit = u;
    Recorded recorded = Recorded::Yes;
    {
        std::lock_guard<std::mutex> records(m_recordLock);
        // A new day's counts start from its records so far, this unit's not
        // yet among them.
        CountsForToday();
        if (m_records.IsOpen()) {
            std::string line = RecordLine(m_settings.type, m_settings.image, u, m_image,
                                          m_stationName, m_options.onePosition ? 0 : p.view.number);
            if (m_heldRecords.empty()) {
                if (!m_records.Append(line, e.recordError)) {
                    m_heldRecords.push_back(std::move(line));
                    recorded = Recorded::No;
                }
            } else {
                // Held records go first, in the order their units ended.
                m_heldRecords.push_back(std::move(line));
                recorded = WriteHeldRecords(e.recordError) ? Recorded::Recounted : Recorded::No;
            }
            if (recorded == Recorded::No) {
                if (e.recordError.empty()) {
                    e.recordError = "not written";
                }
                notRecorded = e.recordError;
            }
        }
        if (recorded == Recorded::Yes && u.result == UnitResult::Done) {
            ++m_doneInFile;  // Recounted: read back with the rest
        }
        Release(p);
        if (m_settings.limit > 0 && m_doneInFile >= m_settings.limit && !m_limitReached) {
            m_limitReached = true;
            std::lock_guard<std::mutex> g(m_lock);
            if (!m_stopping) {
                m_stopReason =
                    "the limit of " + std::to_string(m_settings.limit) + " units is reached";
            }
            m_stopping = true;
        }
    }
    if (recorded == Recorded::No) {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_stopping) {
            m_stopReason = "a record could not be written";
        }
        m_stopping = true;
        m_recordErrors.push_back("The record of position " + std::to_string(p.view.number) +
                                 " could not be written to " + m_settings.record + ": " +
                                 e.recordError);
    }
    Tell(p, std::move(e));
    return recorded;
}

void Station::Core::EndPosition(Position& p) {
    {
        std::lock_guard<std::mutex> records(m_recordLock);
        Release(p);
    }
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
