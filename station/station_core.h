// What a station's positions' threads use, and each position: private to
// station/station.cpp and station_core.cpp.
//
// Threads. A Position's runner, `running` and `started` belong to its own
// thread. Its view, told events and flags are published under Core's
// m_lock, for the front end's Step(). The record file and the day's count
// are one at a time under m_recordLock. Settings, image, options and the
// unit maker never change once the station is made.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/window_thread.h"
#include "station/computer_name.h"
#include "station/serial_numbers.h"
#include "station/station.h"

// A unit that has run this long is given up: the scan is bounded by its
// one port and the download by the silence timeout, so this is only a
// safety net.
inline constexpr std::uint64_t kUnitLimitMs = 3600 * 1000;

inline constexpr char kStoppedNowReason[] = "the station was stopped at once";

struct Station::Position {
    std::size_t index = 0;
    std::vector<std::string> ports;  // what its scans try
    CWindowThread thread;
    std::atomic<bool> servePosted{false};  // a Serve waits on the thread

    // The position's own thread only.
    std::unique_ptr<Unit> runner;
    bool running = false;  // a unit, or the wait for one, is under way
    std::uint64_t started = 0;

    bool reserved = false;                // holds one of the limit's units (m_recordLock)
    bool serialHeld = false;              // holds a place in the serial pool
    bool waitingForPlace = false;         // for a serial number, or a unit of the limit
    bool waitingForScan = false;          // for its unit's ID to be scanned
    std::string unitId;                   // the unit under way's scanned ID
    std::optional<std::uint64_t> serial;  // the unit under way's number

    // Published to the front end, under Station::m_lock.
    PositionView view;
    std::vector<PositionEvent> told;  // StationOptions::tellEvents
    std::string pendingId;            // scanned for its next unit
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
          m_stationName(StationName()),
          m_countedDayNumber(std::numeric_limits<int>::min()) {}

    DayCountRules Today() const { return m_options.today ? m_options.today() : TodaysCountRules(); }

    // On a position's own thread.
    void Serve(Position& p);
    void StartUnit(Position& p);
    void Ended(Position& p);
    void EndPosition(Position& p);
    enum class Recorded { Yes, No, Recounted };
    // Recounted: held records were written with it, and the day's counts
    // read back. No: it is held, for notRecorded.
    // Gives u the unit's serial number, when it has one.
    Recorded Record(Position& p, UnitOutcome& u, std::string& notRecorded);
    // Writes the held records, then reads the day's counts back. With
    // m_recordLock held.
    bool WriteHeldRecords(std::string& error);
    // What every position shows of the day's counts. With m_recordLock
    // held.
    void ShowCounts(const DayCounts& counts, const DayCountRules& rules);
    template <class Fn>
    void Publish(Position& p, Fn change);
    void CountsForToday();  // with m_recordLock held
    // A unit of the limit for the position, held from its unit's start to
    // its end: false when the units done and those under way elsewhere
    // already make the limit.
    bool Reserve(Position& p);
    enum class Place { Yes, Wait, SerialsUsedUp, LimitReached };
    // A place for the position's next unit: a serial number (when the
    // settings write them) and a unit of the limit (when they have one).
    Place TakePlace(Position& p);
    void Release(Position& p);  // with m_recordLock held
    void PostServe(Position& p);
    void Tell(Position& p, PositionEvent event);
    // Takes the unit's serial number and writes it into its image.
    void GiveSerial(Position& p);
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
    std::vector<std::string> m_heldRecords;     // not written yet, in order
    std::optional<DayCountRules> m_countedDay;  // the day the counts are of
    // The same day, for the front end's look at the clock: days since
    // 1970, or INT_MIN when no day is counted yet.
    std::atomic<int> m_countedDayNumber;
    // Reads a new day's counts when the day changes while no unit ends.
    CWindowThread m_countsThread;
    std::atomic<bool> m_countsPosted{false};
    std::atomic<int> m_unreadable{0};  // as of the last count read
    // Units done in the whole record file (the limit's count), and units of
    // the limit held by positions; under m_recordLock, read by any thread.
    std::atomic<int> m_doneInFile{0};
    int m_reservedUnits = 0;
    std::deque<std::size_t> m_limitAsking;  // positions waiting for a unit of it, in turn
    std::atomic<bool> m_limitReached{false};
    SerialPool m_serials;  // when the settings write serial numbers
    std::atomic<bool> m_serialsUsedUp{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_stopNow{0};  // every port's abort flag
};

template <class Fn>
void Station::Core::Publish(Position& p, Fn change) {
    std::lock_guard<std::mutex> g(m_lock);
    change(p.view);
    p.changed = true;
}
