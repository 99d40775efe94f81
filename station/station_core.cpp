// A station's positions, each a loop of its own on its own thread: a unit
// started, served, recorded and counted, and the next started; see
// station.h and station_core.h.
#include "station/station_core.h"

#include <algorithm>

#include "framework/afxwin.h"
#include "station/records.h"
#include "station/sha256.h"

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
    // that the units under way can never take the station past it. Units
    // that come free go to the positions that asked, in turn.
    auto& asking = m_limitAsking;
    const bool asked = std::find(asking.begin(), asking.end(), p.index) != asking.end();
    if (m_doneInFile + m_reservedUnits >= m_settings.limit ||
        (!asking.empty() && asking.front() != p.index)) {
        if (!asked) {
            asking.push_back(p.index);
        }
        return false;
    }
    if (asked) {
        asking.pop_front();
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

Station::Core::Place Station::Core::TakePlace(Position& p) {
    if (m_settings.serial.enabled && !p.serialHeld) {
        if (!m_serials.Hold(p.index)) {
            return m_serials.UsedUp() ? Place::SerialsUsedUp : Place::Wait;
        }
        p.serialHeld = true;
    }
    if (!Reserve(p)) {
        if (p.serialHeld) {
            p.serialHeld = false;
            m_serials.Unhold();
        }
        return m_doneInFile >= m_settings.limit ? Place::LimitReached : Place::Wait;
    }
    return Place::Yes;
}

void Station::Core::StartUnit(Position& p) {
    if (m_settings.requireScan) {
        bool scanned = false;
        {
            std::lock_guard<std::mutex> g(m_lock);
            scanned = !p.pendingId.empty();
        }
        p.waitingForScan = !scanned;
        if (!scanned) {
            p.running = true;
            Publish(p, [&](PositionView& v) {
                v.state = PositionState::WaitingForScan;
                v.note.clear();
            });
            return;
        }
    }
    const Place place = TakePlace(p);
    p.waitingForPlace = place == Place::Wait;
    if (place == Place::Wait) {
        // The last numbers, or the limit's last units, are with units under
        // way elsewhere: one that fails gives its place back.
        p.running = true;
        Publish(p, [&](PositionView& v) {
            v.state = PositionState::Waiting;
            v.note = m_settings.serial.enabled && !p.serialHeld
                         ? "waiting: the last serial numbers are with units under way at other "
                           "positions"
                         : "waiting: the limit's last units are under way at other positions";
        });
        return;
    }
    if (place != Place::Yes) {
        EndPosition(p);
        if (place == Place::SerialsUsedUp) {
            m_serialsUsedUp = true;
        }
        Publish(p, [&](PositionView& v) {
            v.note = place == Place::SerialsUsedUp
                         ? "the serial numbers are used up (the last is " +
                               std::to_string(m_settings.serial.last) + ")"
                         : "the limit of " + std::to_string(m_settings.limit) + " units is reached";
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
        {
            // The ID scanned for this position's next unit is this unit's.
            std::lock_guard<std::mutex> g(m_lock);
            p.unitId = p.pendingId;
            p.pendingId.clear();
            p.view.nextUnitId.clear();
        }
        if (m_settings.serial.enabled) {
            GiveSerial(p);
        }
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

void Station::Core::GiveSerial(Position& p) {
    // Before the protocol acts on the machine's answer: nothing of the
    // image has gone yet.
    p.serialHeld = false;
    std::string error;
    p.serial = m_serials.Take(error);
    if (p.serial) {
        p.runner->PatchImage(m_settings.serial.offset, SerialBytes(m_settings.serial, *p.serial));
        return;
    }
    // The number cannot be kept on the disk: no unit may go on with one
    // that could be given again, nor without one. Every write gives up.
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stopReason = "no serial number: " + error;
        m_stopping = true;
        m_stopNow = 1;
        m_recordErrors.push_back("Position " + std::to_string(p.view.number) +
                                 " got no serial number: " + error +
                                 ". The station stopped at once, before that unit was sent its "
                                 "image.");
    }
    p.runner->Interrupt("no serial number: " + error);
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
    if (p.waitingForPlace || p.waitingForScan) {
        if (m_stopping) {
            EndPosition(p);
        } else {
            StartUnit(p);  // a place may have come free, or an ID been scanned
        }
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
    UnitOutcome u = p.runner->Outcome();
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

Station::Core::Recorded Station::Core::Record(Position& p, UnitOutcome& u,
                                              std::string& notRecorded) {
    u.unitId = p.unitId;
    p.unitId.clear();
    if (p.serial) {
        u.serial = p.serial;
        u.sentSha256 = Sha256Hex(p.runner->ImageAsSent());
        // Used up by a unit done; any other end gives it to the next unit.
        if (u.result == UnitResult::Done) {
            m_serials.Used(*p.serial);
        } else {
            m_serials.GiveBack(*p.serial);
        }
        p.serial.reset();
    }
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
    p.waitingForPlace = false;
    p.waitingForScan = false;
    p.unitId.clear();
    m_serials.StopAsking(p.index);
    {
        std::lock_guard<std::mutex> records(m_recordLock);
        Release(p);
        m_limitAsking.erase(std::remove(m_limitAsking.begin(), m_limitAsking.end(), p.index),
                            m_limitAsking.end());
    }
    if (p.serialHeld) {
        p.serialHeld = false;
        m_serials.Unhold();
    }
    if (p.serial) {
        m_serials.GiveBack(*p.serial);
        p.serial.reset();
    }
    p.running = false;
    p.runner.reset();  // closes the port, restoring its settings
    std::lock_guard<std::mutex> g(m_lock);
    p.view.state = PositionState::Stopped;
    // Why, when the station stopped by itself for good.
    p.view.note = m_limitReached
                      ? "the limit of " + std::to_string(m_settings.limit) + " units is reached"
                  : m_serialsUsedUp ? "the serial numbers are used up (the last is " +
                                          std::to_string(m_settings.serial.last) + ")"
                                    : "";
    p.view.percent = 0;
    p.live = false;
    p.answered = false;
    p.changed = true;
}
