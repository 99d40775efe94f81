// Counting the day's units in the record file, a line at a time.
#include "station/day_counts.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "disk/disk_file.h"
#include "station/json_object.h"

namespace {

using namespace std::chrono;

// "2026-12-11T01:23:44Z", and nothing else, as a time in UTC.
std::optional<sys_seconds> ParseUtcTime(std::string_view t) {
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[19] != 'Z') {
        return std::nullopt;
    }
    auto number = [&t](std::size_t at, std::size_t digits, int& value) {
        value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (t[i] < '0' || t[i] > '9') {
                return false;
            }
            value = value * 10 + (t[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!number(0, 4, y) || !number(5, 2, mo) || !number(8, 2, d) || !number(11, 2, h) ||
        !number(14, 2, mi) || !number(17, 2, s)) {
        return std::nullopt;
    }
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok() || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    return sys_days{date} + hours{h} + minutes{mi} + seconds{s};
}

enum class Position { Counted, Unnumbered, OutOfRange, Unreadable };

// A position's number: a whole number, without sign, fraction or exponent.
Position ReadPosition(const JsonField* field, int& position) {
    if (field == nullptr) {
        return Position::Unnumbered;
    }
    if (field->kind != JsonField::Kind::Number) {
        return Position::Unreadable;
    }
    position = 0;
    for (const char c : field->text) {
        if (c < '0' || c > '9') {
            return Position::Unreadable;
        }
        if (position <= kMaxPositions) {
            position = position * 10 + (c - '0');
        }
    }
    return position >= 1 && position <= kMaxPositions ? Position::Counted : Position::OutOfRange;
}

// One line, without its line end.
void CountLine(std::string_view line, const DayCountRules& rules, DayCounts& counts) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
        return;
    }
    std::vector<JsonField> fields;
    if (!ReadFlatJsonObject(line, fields)) {
        ++counts.unreadable;
        return;
    }
    const JsonField* time = nullptr;
    const JsonField* position = nullptr;
    const JsonField* result = nullptr;
    const JsonField* serial = nullptr;
    for (const JsonField& f : fields) {
        if (f.key == "event") {
            return;  // the supervisor's doing, not a unit
        }
    }
    for (const JsonField& f : fields) {
        if (f.key == "unit_serial" && f.kind == JsonField::Kind::Number) {
            serial = &f;
        }
        const JsonField** slot = f.key == "time"       ? &time
                                 : f.key == "position" ? &position
                                 : f.key == "result"   ? &result
                                                       : nullptr;
        if (slot != nullptr) {
            if (*slot != nullptr) {
                ++counts.unreadable;  // which of the two would be the record's?
                return;
            }
            *slot = &f;
        }
    }
    std::optional<sys_seconds> when;
    if (time != nullptr && time->kind == JsonField::Kind::String) {
        when = ParseUtcTime(time->text);
    }
    int number = 0;
    const Position where = ReadPosition(position, number);
    if (!when || result == nullptr || result->kind != JsonField::Kind::String ||
        where == Position::Unreadable) {
        ++counts.unreadable;
        return;
    }
    if (result->text == "done") {
        ++counts.doneInFile;
        if (serial != nullptr && rules.serials != nullptr) {
            std::uint64_t n = 0;
            const char* end = serial->text.data() + serial->text.size();
            const auto [stop, failure] = std::from_chars(serial->text.data(), end, n);
            if (failure == std::errc() && stop == end && InSerialRange(*rules.serials, n)) {
                counts.highestSerialDone = std::max(counts.highestSerialDone.value_or(n), n);
            }
        }
    }
    const sys_days local = floor<days>(*when + minutes{rules.utcOffsetMinutes});
    if (local != sys_days{rules.day} || where == Position::OutOfRange ||
        (where == Position::Unnumbered && !rules.unnumberedIsPosition1)) {
        return;
    }
    if (where == Position::Unnumbered) {
        number = 1;
    }
    PositionCounts& c = counts.positions[static_cast<std::size_t>(number - 1)];
    if (result->text == "done") {
        ++c.passed;
    } else if (result->text != "interrupted") {
        ++c.failed;
    }
}

// Cuts a stream into lines, holding at most one line of the bound (and its
// CR) at a time; a longer line is dropped as it comes.
class LineCutter {
  public:
    LineCutter(const DayCountRules& rules, DayCounts& counts) : m_rules(rules), m_counts(counts) {}

    void Feed(std::string_view data) {
        while (!data.empty()) {
            const std::size_t end = data.find('\n');
            Hold(data.substr(0, end));
            if (end == std::string_view::npos) {
                return;
            }
            EndLine();
            data.remove_prefix(end + 1);
        }
    }
    // The end of the file: a last line without its newline.
    void Finish() {
        if (m_tooLong || !m_line.empty()) {
            EndLine();
        }
    }

  private:
    void Hold(std::string_view part) {
        if (m_tooLong) {
            return;
        }
        if (part.size() > kMaxRecordLineBytes + 1 - m_line.size()) {
            m_tooLong = true;
            m_line.clear();
            return;
        }
        m_line.append(part);
    }
    void EndLine() {
        std::string_view line = m_line;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (m_tooLong || line.size() > kMaxRecordLineBytes) {
            ++m_counts.unreadable;
        } else {
            CountLine(line, m_rules, m_counts);
        }
        m_line.clear();
        m_tooLong = false;
    }

    const DayCountRules& m_rules;
    DayCounts& m_counts;
    std::string m_line;
    bool m_tooLong = false;
};

}  // namespace

bool ReadDayCounts(const std::string& path, const DayCountRules& rules, DayCounts& counts,
                   std::string& error) {
    DayCounts found;
    DiskFile file;
    DiskError failure;
    switch (file.OpenToRead(path, failure)) {
        case DiskFile::Opened::Yes:
            break;
        case DiskFile::Opened::Missing:
            counts = found;
            return true;
        case DiskFile::Opened::Failed:
            error = failure.Message();
            return false;
    }
    LineCutter lines(rules, found);
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const long long n = file.Read(chunk.data(), chunk.size(), failure);
        if (n < 0) {
            error = failure.Message();
            return false;
        }
        if (n == 0) {
            break;
        }
        lines.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    }
    lines.Finish();
    counts = found;
    return true;
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
