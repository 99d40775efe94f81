// Serial numbers written into each unit: a range split into numbers, the
// bytes a number is written as, and the pool a station's positions take
// them from.
//
// Rules
// -----
// A number is given to a unit when its machine answers, before the first
// byte of the image is sent, and written into the image at its offset as
// the bytes sent (after a type's unscrambling): the image file and its
// SHA-256 stay as they are. It is used up only by a unit that ends done; a
// unit that ends any other way gives its number back, and the lowest number
// given back goes to the next unit that answers.
//
// No number is ever given twice, across positions, restarts, crashes and
// power loss: a number above every number given so far is kept on the disk
// (the next one, in a file beside the record file, replaced whole and
// flushed) before it is given, and on opening the pool starts above both
// that file and every number a done record of the record file holds. A
// crash loses only the numbers given back by units that failed.
//
// Every position holds a place in the pool from the start of its unit (its
// scan) to the unit's end, so that the end of the range stops positions
// before a unit would answer with no number left for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

enum class SerialFormat : std::uint8_t { Decimal, Hex, U16Le, U16Be, U32Le, U32Be };

// Where and how numbers are written; `enabled` false: none are.
struct SerialPlan {
    bool enabled = false;
    std::uint64_t first = 0, last = 0, step = 1;
    std::uint32_t offset = 0;  // in the image as sent
    SerialFormat format = SerialFormat::Decimal;
    int width = 0;  // text formats: digits, zero-padded; integers: their bytes

    bool operator==(const SerialPlan&) const = default;
};

// "dec:8", "hex:6", "u16le", "u16be", "u32le", "u32be" into the plan's
// format and width; false when it is none of them (text widths 1 to 20).
bool ParseSerialFormat(const std::string& text, SerialPlan& plan);
std::string SerialFormatName(const SerialPlan& plan);

// Whether the plan can be kept: first <= last, a step of at least 1, every
// number of the range fits the format. The reason when not.
bool CheckSerialPlan(const SerialPlan& plan, std::string& error);
// Whether the number fits an image of `size` bytes sent at the plan's
// offset; the reason when not.
bool SerialFitsImage(const SerialPlan& plan, std::size_t size, std::string& error);

// The bytes `number` is written as.
std::vector<std::uint8_t> SerialBytes(const SerialPlan& plan, std::uint64_t number);

// Whether `number` is one of the plan's: in the range, on its step.
bool InSerialRange(const SerialPlan& plan, std::uint64_t number);

// The file that keeps the next number, beside the record file.
std::string SerialStatePath(const std::string& recordPath);

// The numbers of a station. Any thread.
class SerialPool {
  public:
    // Starts above the kept next number (statePath; none yet is no error)
    // and above `highestDone` (the highest of the plan's numbers a done
    // record holds). False, with the reason, when the kept number cannot
    // be read.
    bool Open(const SerialPlan& plan, const std::string& statePath,
              std::optional<std::uint64_t> highestDone, std::string& error);

    // A place for the next unit of `who` (a position): false when the
    // numbers left are all held by other units already, or another asked
    // first since none was left; places that come free go to those who
    // asked, in turn.
    bool Hold(std::size_t who);
    // The place of a unit that ended without taking a number.
    void Unhold();
    // `who` stops asking for a place.
    void StopAsking(std::size_t who);
    // The number for a unit whose machine answered, in place of its held
    // place: the lowest given back, else the next, kept on the disk first.
    // Nothing, with the reason, when it cannot be kept.
    std::optional<std::uint64_t> Take(std::string& error);
    // The unit ended done: its number is used up.
    void Used(std::uint64_t number);
    // The unit ended otherwise: its number goes to the next unit.
    void GiveBack(std::uint64_t number);

    // No number is left to give, held, or with a unit that could give it
    // back.
    bool UsedUp() const;
    // The next number never given yet (as kept), for what the station
    // shows.
    std::uint64_t Next() const;

  private:
    std::uint64_t Left() const;  // numbers not given yet, or given back

    SerialPlan m_plan;
    std::string m_statePath;
    mutable std::mutex m_lock;
    std::uint64_t m_next = 0;  // never given yet; kept on the disk; past last when none is
    std::set<std::uint64_t> m_givenBack;
    std::deque<std::size_t> m_asking;  // waiting for a place, in turn
    std::uint64_t m_held = 0;          // places held by units under way
    std::uint64_t m_out = 0;           // numbers with units, not yet used up or given back
};
