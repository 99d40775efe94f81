// Serial numbers: formats, the range and the pool; see serial_numbers.h.
#include "station/serial_numbers.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "disk/disk_file.h"

namespace {

bool IsText(SerialFormat f) {
    return f == SerialFormat::Decimal || f == SerialFormat::Hex;
}

// The largest number the plan's format can hold.
std::uint64_t Largest(const SerialPlan& plan) {
    switch (plan.format) {
        case SerialFormat::U16Le:
        case SerialFormat::U16Be:
            return 0xFFFF;
        case SerialFormat::U32Le:
        case SerialFormat::U32Be:
            return 0xFFFFFFFF;
        case SerialFormat::Decimal:
        case SerialFormat::Hex: {
            const std::uint64_t base = plan.format == SerialFormat::Decimal ? 10 : 16;
            std::uint64_t largest = 0;
            for (int i = 0; i < plan.width; ++i) {
                if (largest > (std::numeric_limits<std::uint64_t>::max() - (base - 1)) / base) {
                    return std::numeric_limits<std::uint64_t>::max();
                }
                largest = largest * base + (base - 1);
            }
            return largest;
        }
    }
    return 0;
}

}  // namespace

bool ParseSerialFormat(const std::string& text, SerialPlan& plan) {
    const struct {
        const char* name;
        SerialFormat format;
        int width;
    } integers[] = {{"u16le", SerialFormat::U16Le, 2},
                    {"u16be", SerialFormat::U16Be, 2},
                    {"u32le", SerialFormat::U32Le, 4},
                    {"u32be", SerialFormat::U32Be, 4}};
    for (const auto& i : integers) {
        if (text == i.name) {
            plan.format = i.format;
            plan.width = i.width;
            return true;
        }
    }
    const bool dec = text.starts_with("dec:");
    if (!dec && !text.starts_with("hex:")) {
        return false;
    }
    int width = 0;
    const char* begin = text.data() + 4;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(begin, end, width);
    if (failure != std::errc() || stop != end || begin == end || *begin == '+' || width < 1 ||
        width > 20) {
        return false;
    }
    plan.format = dec ? SerialFormat::Decimal : SerialFormat::Hex;
    plan.width = width;
    return true;
}

std::string SerialFormatName(const SerialPlan& plan) {
    switch (plan.format) {
        case SerialFormat::Decimal:
            return "dec:" + std::to_string(plan.width);
        case SerialFormat::Hex:
            return "hex:" + std::to_string(plan.width);
        case SerialFormat::U16Le:
            return "u16le";
        case SerialFormat::U16Be:
            return "u16be";
        case SerialFormat::U32Le:
            return "u32le";
        case SerialFormat::U32Be:
            return "u32be";
    }
    return "";
}

bool CheckSerialPlan(const SerialPlan& plan, std::string& error) {
    if (plan.step < 1) {
        error = "the serial numbers' step is at least 1";
    } else if (plan.first > plan.last) {
        error = "the first serial number " + std::to_string(plan.first) + " is above the last, " +
                std::to_string(plan.last);
    } else if (plan.last > std::numeric_limits<std::uint64_t>::max() - plan.step) {
        error = "the last serial number is too large";
    } else if (plan.last > Largest(plan)) {
        error = "the last serial number " + std::to_string(plan.last) + " does not fit " +
                SerialFormatName(plan) + " (at most " + std::to_string(Largest(plan)) + ")";
    } else {
        return true;
    }
    return false;
}

bool SerialFitsImage(const SerialPlan& plan, std::size_t size, std::string& error) {
    if (std::uint64_t{plan.offset} + static_cast<std::uint64_t>(plan.width) > size) {
        error = "the serial number (" + std::to_string(plan.width) + " bytes at offset " +
                std::to_string(plan.offset) + ") does not fit the image's " + std::to_string(size) +
                " bytes";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> SerialBytes(const SerialPlan& plan, std::uint64_t number) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(plan.width));
    const std::size_t n = bytes.size();
    if (IsText(plan.format)) {
        const std::uint64_t base = plan.format == SerialFormat::Decimal ? 10 : 16;
        for (std::size_t i = n; i-- > 0;) {
            bytes[i] = static_cast<std::uint8_t>("0123456789ABCDEF"[number % base]);
            number /= base;
        }
        return bytes;
    }
    const bool little = plan.format == SerialFormat::U16Le || plan.format == SerialFormat::U32Le;
    for (std::size_t i = 0; i < n; ++i) {
        bytes[little ? i : n - 1 - i] = static_cast<std::uint8_t>(number >> (8 * i));
    }
    return bytes;
}

bool InSerialRange(const SerialPlan& plan, std::uint64_t number) {
    return plan.step > 0 && number >= plan.first && number <= plan.last &&
           (number - plan.first) % plan.step == 0;
}

std::string SerialStatePath(const std::string& recordPath) {
    return recordPath + ".next-serial";
}

bool SerialPool::Open(const SerialPlan& plan, const std::string& statePath,
                      std::optional<std::uint64_t> highestDone, std::string& error) {
    std::lock_guard<std::mutex> g(m_lock);
    m_plan = plan;
    m_statePath = statePath;
    m_next = plan.first;
    m_givenBack.clear();
    m_asking.clear();
    m_held = 0;
    m_out = 0;
    if (highestDone && InSerialRange(plan, *highestDone)) {
        m_next = std::max(m_next, *highestDone + plan.step);
    }
    DiskFile file;
    DiskError failure;
    switch (file.OpenToRead(statePath, failure)) {
        case DiskFile::Opened::Missing:
            return true;
        case DiskFile::Opened::Failed:
            error = failure.Message();
            return false;
        case DiskFile::Opened::Yes:
            break;
    }
    char text[64];
    const long long got = file.Read(text, sizeof text, failure);
    if (got < 0) {
        error = failure.Message();
        return false;
    }
    // "next = N", as Take keeps it; anything else is no number to trust.
    std::string_view kept(text, static_cast<std::size_t>(got));
    std::uint64_t next = 0;
    if (!kept.starts_with("next = ") || !kept.ends_with("\n")) {
        error = "reading " + statePath + ": not the next serial number";
        return false;
    }
    kept.remove_prefix(7);
    kept.remove_suffix(1);
    const auto [stop, bad] = std::from_chars(kept.data(), kept.data() + kept.size(), next);
    if (bad != std::errc() || stop != kept.data() + kept.size() || kept.empty()) {
        error = "reading " + statePath + ": not the next serial number";
        return false;
    }
    m_next = std::max(m_next, next);
    return true;
}

std::uint64_t SerialPool::Left() const {
    const std::uint64_t fresh = m_next > m_plan.last ? 0 : (m_plan.last - m_next) / m_plan.step + 1;
    return fresh + m_givenBack.size();
}

bool SerialPool::Hold(std::size_t who) {
    std::lock_guard<std::mutex> g(m_lock);
    const bool asked = std::find(m_asking.begin(), m_asking.end(), who) != m_asking.end();
    if (m_held >= Left() || (!m_asking.empty() && m_asking.front() != who)) {
        if (!asked) {
            m_asking.push_back(who);
        }
        return false;
    }
    if (asked) {
        m_asking.pop_front();  // its turn
    }
    ++m_held;
    return true;
}

void SerialPool::StopAsking(std::size_t who) {
    std::lock_guard<std::mutex> g(m_lock);
    m_asking.erase(std::remove(m_asking.begin(), m_asking.end(), who), m_asking.end());
}

void SerialPool::Unhold() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_held > 0) {
        --m_held;
    }
}

std::optional<std::uint64_t> SerialPool::Take(std::string& error) {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_held > 0) {
        --m_held;
    }
    if (!m_givenBack.empty()) {
        const std::uint64_t n = *m_givenBack.begin();
        m_givenBack.erase(m_givenBack.begin());
        ++m_out;
        return n;
    }
    if (m_next > m_plan.last) {
        error = "the serial numbers are used up (the last is " + std::to_string(m_plan.last) + ")";
        return std::nullopt;
    }
    // Kept before it is given: a crash after this never gives it again.
    const std::uint64_t n = m_next;
    DiskError failure;
    if (!ReplaceFileWhole(m_statePath, "next = " + std::to_string(n + m_plan.step) + "\n",
                          failure)) {
        error = "keeping the next serial number: " + failure.Message();
        return std::nullopt;
    }
    m_next = n + m_plan.step;
    ++m_out;
    return n;
}

void SerialPool::Used(std::uint64_t) {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_out > 0) {
        --m_out;
    }
}

void SerialPool::GiveBack(std::uint64_t number) {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_out > 0) {
        --m_out;
    }
    m_givenBack.insert(number);
}

bool SerialPool::UsedUp() const {
    std::lock_guard<std::mutex> g(m_lock);
    return Left() == 0 && m_held == 0 && m_out == 0;
}

std::uint64_t SerialPool::Next() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_next;
}
