// The day's counts, read back from the record file after a restart: for
// each fixture position, how many units it programmed today ("done") and
// how many it did not.
//
// The record file holds one JSON object a line, as download-cli --record
// and the station append them:
//
//     {"time":"2026-12-11T01:23:44Z","station":"vm","position":2,...,"result":"done",...}
//
// Of each line only three fields count: "time" (UTC, exactly as above),
// "position" (a whole number from 1 to kMaxPositions) and "result" (a
// string). A unit is passed when its result is "done", failed for any other
// result, and neither when it was "interrupted" (the operator stopped it:
// it says nothing of the unit). Its day is the day its time falls on in the
// station's own time, UTC plus the offset given.
//
// What cannot be read is skipped and the rest still counted: a line that is
// not one flat JSON object (station/json_object.h), one where a counted
// field is missing, given twice or of the wrong kind, a time not in the
// form above, and a line longer than kMaxRecordLineBytes (skipped without
// being held whole). Other fields, known or not, are not looked at. A last
// line without its newline (a record cut short) counts only if it is a
// whole record. A line without "position" is a record of a single port
// (download-cli without --parallel): it counts for position 1 when asked,
// else not at all; positions above kMaxPositions are not counted.
//
// A line with an "event" field is what the station window's supervisor did
// (station/event_lines.h: "unlocked", "settings changed", ...), not a unit:
// it is neither counted nor unreadable.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "station/station_file.h"

// A record line longer than this (without its line end) is skipped.
inline constexpr std::size_t kMaxRecordLineBytes = 16 * 1024;

struct PositionCounts {
    int passed = 0;
    int failed = 0;
    bool operator==(const PositionCounts&) const = default;
};

struct DayCounts {
    std::array<PositionCounts, kMaxPositions> positions{};  // [0] is position 1
    int unreadable = 0;  // lines skipped as unreadable (blank lines are not)
    // Units done on any day, at any position or none: what a station's
    // limit counts.
    int doneInFile = 0;
    // The highest "unit_serial" of a done unit that is one of the rules'
    // serial plan's numbers, when there is a plan.
    std::optional<std::uint64_t> highestSerialDone;
    bool operator==(const DayCounts&) const = default;
};

struct DayCountRules {
    std::chrono::year_month_day day;      // today, on the station's clock
    int utcOffsetMinutes = 0;             // the station's clock minus UTC (+60 in Paris in winter)
    bool unnumberedIsPosition1 = false;   // count lines without "position" for position 1
    const SerialPlan* serials = nullptr;  // whose numbers done units used
};

// Counts the records of rules.day in the record file at path (UTF-8 on
// every system), reading it as a stream. A file that is not there counts
// zero units and is no error; one that cannot be opened or read, or is not
// a regular file, is an error with the system's reason ("opening PATH:
// Permission denied"), and counts is left as it was.
bool ReadDayCounts(const std::string& path, const DayCountRules& rules, DayCounts& counts,
                   std::string& error);

// Today on this computer's clock, and its offset from UTC, for counting
// the day's records. Any thread.
DayCountRules TodaysCountRules();
