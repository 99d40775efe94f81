// A production station as the station window runs it: every fixture
// position a loop of its own that scans its port, programs the unit that
// answers, records it, and waits for the next unit, never for the other
// positions.
//
// Principles of operation
// -----------------------
// Each position has a thread of its own (framework/window_thread.h) and,
// on it, a Unit (station/unit.h) made by the station's UnitMaker: in every
// front end the main dialog's own logic in a dialog nobody sees
// (ui/unit_runner.h), driven as the operator drives the main window and
// heard through its typed events. Everything a position does with its
// port (open, write, drain, close) happens on its own thread, so a held,
// stuck or vanished adapter costs only its own position. A position runs
// its loop by itself: when a unit ends it records it, counts it and starts
// the next, without waiting for anyone.
//
// The front end's thread (the window's, or download-cli's) gives commands
// (Start, Stop, StopNow) and calls Step() often (every 100 ms will do),
// which takes what the positions have published since and tells it through
// StationEvents; Positions() and Totals() are what it shows. Every
// StationEvents call is made from Step(), on the front end's thread.
//
// A unit is what happened from a machine's answer to the end of its
// download; its times are the position's own clock, which is real time but
// on the headless backend's virtual clock. A scan that found no machine is
// only a wait for the next unit: it is neither recorded nor counted. Every
// unit is recorded, in the same line as download-cli writes
// (station/records.h), before it is counted or shown; a unit is passed when
// it was done, failed otherwise, and not counted when the operator stopped
// it. The counts start from the record file's lines of the day
// (station/day_counts.h), so they survive a restart, and start again when
// the day changes.
//
// With a limit (StationSettings::limit), every position holds one of its
// units from the start of a unit (its scan) to the unit's end, so that the
// units under way never take the station past it; a position that finds
// none left stops, and the station stops once the limit is done. The
// count is every unit done in the record file, so it holds across
// restarts.
//
// A unit whose record cannot be written is not counted: its record is held,
// the position shows it as not recorded, and the station stops as Stop()
// does. Start() writes the held records first and starts nothing while
// they cannot be written; once they are, the counts are read back from the
// file. So the counts shown are always what a restart reads back.
//
// Stopping: Stop() lets the units under way finish, and positions waiting
// for a unit stop at once; StopNow() stops every position at once, giving
// up any write under way. A position that has stopped has closed its port,
// which restores the line's settings. The destructor stops every position
// at once and waits for their threads, all at the same time, no longer
// than kWindowThreadEndMs in all.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/day_counts.h"
#include "station/record_file.h"
#include "station/station_file.h"
#include "station/unit.h"

// What a position did, in the order it did it, for a front end that tells
// each thing as it happens (download-cli's lines and --json events).
struct PositionEvent {
    enum class Kind : std::uint8_t { PortTried, PortNotClosed, Connected, Progress, UnitEnded };
    Kind kind = Kind::PortTried;
    std::string port;
    PortOutcome outcome = PortOutcome::Opened;  // PortTried
    std::string reason;                         // PortTried, PortNotClosed
    std::uint32_t sent = 0, total = 0;          // Progress
    UnitOutcome unit;                           // UnitEnded
    // UnitEnded: why the unit's record could not be written; empty when it
    // was, or when there is no record file.
    std::string recordError;
};

class StationEvents {
  public:
    virtual ~StationEvents() = default;
    // Something a position shows changed (index from 0).
    virtual void PositionChanged(std::size_t /*index*/) {}
    // The station started, or its last position stopped.
    virtual void RunningChanged(bool /*running*/) {}
    // A record could not be written: the station is stopping.
    virtual void RecordFailed(const std::string& /*message*/) {}
    // The units done reached the settings' limit: the station is stopping.
    virtual void LimitReached() {}
    // The settings' serial numbers are used up: positions stop as they end
    // their units.
    virtual void SerialsUsedUp() {}
    // What a position did (StationOptions::tellEvents): each position's in
    // order, before the PositionChanged of the same step.
    virtual void Told(std::size_t /*index*/, const PositionEvent& /*event*/) {}
};

// How a station runs its positions.
struct StationOptions {
    // Unit after unit at every position. Off: one unit each (download-cli
    // --parallel without --loop), and a scan that found no machine is that
    // unit, recorded and told.
    bool loop = true;
    bool fast = false;        // block protocol: frames handed over as soon as complete
    bool tellEvents = false;  // StationEvents::Told
    // One position whose scans try every port of the settings in turn (the
    // platform's list when there are none), and whose records name no
    // position: download-cli without --parallel.
    bool onePosition = false;
    // The day's counts read back from the record file, at the start and
    // when the day changes (the window shows them; download-cli counts its
    // own run's units).
    bool countDay = true;
    // Today on the station's clock: TodaysCountRules() when empty.
    std::function<DayCountRules()> today;
};

// A unit ID (a scanned label) is at most this long.
inline constexpr std::size_t kMaxUnitIdLength = 64;
// Whether id can be a unit ID; the reason when not.
bool CheckUnitId(const std::string& id, std::string& error);

// Why a station could not be opened, for each front end to say in its own
// words.
struct StationRefusal {
    enum class Kind : std::uint8_t { Image, WrongImage, Records, Serials };
    Kind kind = Kind::Image;
    // Image, Records: what failed, in the system's words ("opening PATH:
    // reason"); Serials: why the serial numbers do not fit the image.
    std::string error;
    // WrongImage: the pinned SHA-256, and the image's.
    std::string expected, actual;
};

enum class PositionState : std::uint8_t {
    Stopped,         // not running
    Waiting,         // scanning its port for a unit
    Programming,     // a machine answered; its download is under way
    Finishing,       // stopping: the unit under way ends first
    WaitingForScan,  // the settings want a unit ID scanned before it programs
};

struct PositionView {
    int number = 0;  // from 1
    // As set up, in its normal form (serial/port_names.h): a device ("COM3",
    // "\\.\COM21", "/dev/ttyUSB0"), or an adapter's name. What the
    // position opens, and what its panel shows.
    std::string port;
    std::string adapterSerial;  // of the adapter behind the port, where known
    PositionState state = PositionState::Stopped;
    // While waiting: why the port could not be scanned, if it could not
    // ("port did not open: ...").
    std::string note;
    int percent = 0;                  // while programming
    std::optional<UnitOutcome> last;  // the last unit
    // A unit ID scanned for the position's next unit, not taken yet.
    std::string nextUnitId;
    // Why the last unit's record could not be written: empty when it was
    // (or when there is no record file). Such a unit is not counted.
    std::string notRecorded;
    PositionCounts counts;  // today's
};

class Station {
  public:
    // Events may be null. makeUnit makes each position's engine, on the
    // position's thread. The station keeps a copy of the image.
    Station(const StationSettings& settings, const LoadedImage& image, UnitMaker makeUnit,
            StationEvents* events, const StationOptions& options = {});
    ~Station();  // ends every position at once; closes every port
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Opens the record file (when one is set) and reads back the day's
    // counts from it. False, with the reason, when the file cannot be
    // opened or read: nothing could be recorded, so nothing may start.
    bool Open(std::string& error);

    // Starts every position's loop, once the records held from a failed
    // write are written. Only while stopped. False, with the reason, when
    // they still cannot be: nothing starts then.
    bool Start(std::string& error);
    // Units under way finish; positions waiting for a unit stop now, with
    // `reason` as the outcome's.
    void Stop(const std::string& reason = "the station was stopped");
    // Binds a scanned unit ID to a position's next unit: the unit whose
    // machine answers next there takes it (the one waiting for its scan,
    // where the settings want one). False, with the reason, for an ID that
    // is empty, longer than kMaxUnitIdLength or not printable ASCII, and
    // for a position that is not there.
    bool BindUnitId(std::size_t index, const std::string& id, std::string& error);

    // Every position stops now; writes under way give up. Units under way
    // end as interrupted, for `reason`.
    void StopNow(const std::string& reason = "the station was stopped at once");
    // Takes what the positions have done since the last step and tells it
    // (StationEvents); asks each running position to look at its unit
    // (a silence past the timeout, the station stopping). Call often.
    void Step();

    bool Running() const;  // some position has not stopped
    bool Stopping() const;
    int UnitsUnderWay() const;  // positions programming a unit

    const std::vector<PositionView>& Positions() const { return m_views; }
    // Units done in the whole record file, which the settings' limit
    // counts (when there is a limit; else as of the last count read).
    int DoneInFile() const;
    // Lines of the record file that could not be read when the day's
    // counts were last read from it (a record cut short, a line of another
    // kind): not counted.
    int UnreadableRecords() const;
    PositionCounts Totals() const;
    const StationSettings& Settings() const;

    // Appends an event line (station/event_lines.h, with its newline) to
    // the record file, as a unit's record is appended, opening the file
    // first if the station has not. True without writing anything when
    // the settings name no record file. False, with the reason, when it
    // could not be written. Any thread.
    bool AppendEvent(const std::string& line, std::string& error);

  private:
    // Reads the day's counts again when the day has changed.
    void LookAtTheDay();

    struct Position;
    // What the positions' threads use: kept by the station, and left to
    // them for the life of the process should one of them not end in time
    // (stuck in a call that does not return), so that it can never touch
    // anything that has gone.
    struct Core;

    std::unique_ptr<Core> m_core;
    StationEvents* m_events;
    StationEvents m_noEvents;

    // The front end's side: what it shows, as of the last Step().
    std::vector<PositionView> m_views;
    std::vector<bool> m_running, m_underWay;
    bool m_wasRunning = false;
    bool m_limitTold = false;
    bool m_serialsTold = false;
};

// Opens a station as every front end does: the image is read once, here -
// the bytes every unit is programmed with and the records describe - and
// checked against the pinned SHA-256 (settings.sha256, when set); then the
// record file is opened and the day's counts read back from it. Null, with
// the refusal, when any of it fails: nothing may start then. The image must
// outlive the station.
std::unique_ptr<Station> OpenStation(const StationSettings& settings, LoadedImage& image,
                                     UnitMaker makeUnit, StationEvents* events,
                                     const StationOptions& options, StationRefusal& refusal);
