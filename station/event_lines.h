// The record file's event lines: what was done at the station window's
// settings, one JSON object a line among the units' records, so that the
// file tells who could change what, and when.
//
//     {"time":"2026-12-11T08:15:00Z","station":"line3-pc","event":"unlocked",
//      "station_file":"/srv/line3.station"}
//
// "time" and "station" are as in a unit's record (station/records.h); then
// "event", one of the kEvent names below, and its details, every one a
// string. A settings change names what changed in "changed" (the station
// file's keys, in its order, blank-separated) and gives each key's values
// as the file writes them in KEY_old and KEY_new (ports blank-separated);
// the password is never given, only "password":"changed". Readers of the
// units pass over any line with "event" (station/day_counts.h).
#pragma once

#include <string>
#include <vector>

#include "station/station_file.h"

inline constexpr char kEventUnlocked[] = "unlocked";
inline constexpr char kEventLocked[] = "locked";
inline constexpr char kEventSettingsChanged[] = "settings changed";
inline constexpr char kEventWrongPassword[] = "wrong password";

struct EventDetail {
    std::string key;
    std::string value;
    bool operator==(const EventDetail&) const = default;
};

// The event's line, with its newline, at the time now. station: this
// computer's name (StationName()).
std::string EventLine(const std::string& station, const std::string& event,
                      const std::vector<EventDetail>& details);

// What changed from before to after, as the details of a settings change:
// "changed" first, then each changed key's old and new values (the
// password's only as changed). Empty when nothing changed.
std::vector<EventDetail> SettingsChanges(const StationSettings& before,
                                         const StationSettings& after);
