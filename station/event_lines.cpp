// The record file's event lines (see event_lines.h).
#include "station/event_lines.h"

#include <ctime>
#include <utility>

#include "station/json.h"
#include "station/records.h"

namespace {

// The settings as the station file writes them: each key and its value, in
// the file's order, the ports blank-separated under one key.
std::vector<std::pair<std::string, std::string>> FileValues(const StationSettings& s) {
    std::vector<std::pair<std::string, std::string>> values;
    const std::string text = FormatStationFile(s);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find(" = ");
        if (line.starts_with("#") || equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 3);
        if (!values.empty() && key == "port" && values.back().first == key) {
            values.back().second += " " + value;
        } else {
            values.emplace_back(std::move(key), std::move(value));
        }
    }
    return values;
}

std::string ValueOf(const std::vector<std::pair<std::string, std::string>>& values,
                    const std::string& key) {
    for (const auto& [k, v] : values) {
        if (k == key) {
            return v;
        }
    }
    return "";
}

}  // namespace

std::string EventLine(const std::string& station, const std::string& event,
                      const std::vector<EventDetail>& details) {
    std::string line = "{\"time\":" + JsonString(UtcTime(std::time(nullptr))) +
                       ",\"station\":" + JsonString(station) + ",\"event\":" + JsonString(event);
    for (const EventDetail& d : details) {
        line += "," + JsonString(d.key) + ":" + JsonString(d.value);
    }
    return line + "}\n";
}

std::vector<EventDetail> SettingsChanges(const StationSettings& before,
                                         const StationSettings& after) {
    const auto old = FileValues(before);
    const auto now = FileValues(after);
    // Every key either has, in the file's order: the new file's, then any
    // the old one had alone.
    std::vector<std::string> keys;
    for (const auto* values : {&now, &old}) {
        for (const auto& [key, value] : *values) {
            bool known = false;
            for (const std::string& k : keys) {
                known = known || k == key;
            }
            if (!known) {
                keys.push_back(key);
            }
        }
    }
    std::string changed;
    std::vector<EventDetail> details;
    for (const std::string& key : keys) {
        const std::string was = ValueOf(old, key);
        const std::string is = ValueOf(now, key);
        if (was == is) {
            continue;
        }
        changed += (changed.empty() ? "" : " ") + key;
        if (key == "password") {
            details.push_back({"password", "changed"});
        } else {
            details.push_back({key + "_old", was});
            details.push_back({key + "_new", is});
        }
    }
    if (changed.empty()) {
        return {};
    }
    details.insert(details.begin(), {"changed", changed});
    return details;
}
