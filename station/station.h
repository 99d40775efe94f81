// A production station as the station window runs it: every fixture
// position a loop of its own that scans its port, programs the unit that
// answers, records it, and waits for the next unit, never for the other
// positions.
//
// Principles of operation
// -----------------------
// Each position has a UnitRunner (station/unit_runner.h): the main dialog's
// own logic in a dialog nobody sees, driven as the operator drives the main
// window and heard through its typed events. All of it runs on the
// user-interface thread: the front end calls Step() often (every 100 ms
// will do), and between steps the dialogs' own timers and hand-overs run.
// What a front end shows it reads from Positions() and Totals(), told what
// changed through StationEvents.
//
// A unit is what happened from a machine's answer to the end of its
// download. A scan that found no machine is only a wait for the next unit:
// it is neither recorded nor counted. Every unit is recorded, in the same
// line as download-cli writes (station/records.h), before it is counted or
// shown; a unit is passed when it was done, failed otherwise, and not
// counted when the operator stopped it. The counts start from the record
// file's lines of the day (station/day_counts.h), so they survive a
// restart, and start again when the day changes.
//
// Stopping: Stop() lets the units under way finish, and positions waiting
// for a unit stop at once; StopNow() stops every position at once, giving
// up any write under way. A record that cannot be written stops the
// station as Stop() does. A position that has stopped has closed its port,
// which restores the line's settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/day_counts.h"
#include "station/record_file.h"
#include "station/station_file.h"
#include "station/unit_runner.h"

class StationEvents {
  public:
    virtual ~StationEvents() = default;
    // Something a position shows changed (index from 0).
    virtual void PositionChanged(std::size_t /*index*/) {}
    // The station started, or its last position stopped.
    virtual void RunningChanged(bool /*running*/) {}
    // A record could not be written: the station is stopping.
    virtual void RecordFailed(const std::string& /*message*/) {}
    // A unit has ended: Step() should run soon, outside this call, so that
    // the next unit starts without waiting for the next regular step.
    virtual void StepWanted() {}
};

enum class PositionState : std::uint8_t {
    Stopped,      // not running
    Waiting,      // scanning its port for a unit
    Programming,  // a machine answered; its download is under way
    Finishing,    // stopping: the unit under way ends first
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
    std::optional<UnitOutcome> last;  // the last unit recorded
    PositionCounts counts;            // today's
};

class Station {
  public:
    // The image must outlive the station; events may be null.
    Station(const StationSettings& settings, const LoadedImage& image, StationEvents* events);
    ~Station();  // ends every position at once; closes every port
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Opens the record file (when one is set) and reads back the day's
    // counts from it. False, with the reason, when the file cannot be
    // opened or read: nothing could be recorded, so nothing may start.
    bool Open(std::string& error);

    // Starts every position's loop. Only while stopped.
    void Start();
    // Units under way finish; positions waiting for a unit stop now.
    void Stop();
    // Every position stops now; writes under way give up.
    void StopNow();
    // Serves the positions: decides units that ended, records them and
    // starts the next. Call often.
    void Step();

    bool Running() const;  // some position has not stopped
    bool Stopping() const { return m_stopping && Running(); }
    int UnitsUnderWay() const;  // positions programming a unit

    const std::vector<PositionView>& Positions() const { return m_views; }
    PositionCounts Totals() const;
    const StationSettings& Settings() const { return m_settings; }

    // For tests: the runner of a position, null when it is stopped.
    UnitRunner* RunnerOf(std::size_t index) const;

  private:
    struct Position;

    void StartUnit(std::size_t i);
    void Ended(std::size_t i);
    void EndPosition(std::size_t i);
    void Changed(std::size_t i);
    void CountsForToday();

    StationSettings m_settings;
    const LoadedImage& m_image;
    StationEvents* m_events;
    StationEvents m_noEvents;
    std::vector<std::unique_ptr<Position>> m_positions;
    std::vector<PositionView> m_views;
    RecordFile m_records;
    std::string m_stationName;
    std::optional<DayCountRules> m_countedDay;  // the day the counts are of
    bool m_stopping = false;
    bool m_wasRunning = false;
    std::atomic<int> m_stopNow{0};  // every port's abort flag
};

// Today on this computer's clock, and its offset from UTC, for counting
// the day's records.
DayCountRules TodaysCountRules();
