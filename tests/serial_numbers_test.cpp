// Serial numbers: how a number is written, which ranges can be kept, and
// the pool that gives numbers out, kept on a real disk.
#include "station/serial_numbers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/test_data.h"
#include "tests/test_records.h"

namespace {

SerialPlan Plan(const std::string& format, std::uint64_t first = 1, std::uint64_t last = 9,
                std::uint64_t step = 1) {
    SerialPlan plan;
    plan.enabled = true;
    plan.first = first;
    plan.last = last;
    plan.step = step;
    EXPECT_TRUE(ParseSerialFormat(format, plan)) << format;
    return plan;
}

TEST(SerialNumbersTest, ANumberIsWrittenInItsFormat) {
    using B = std::vector<std::uint8_t>;
    const struct {
        const char* format;
        std::uint64_t number;
        B bytes;
    } cases[] = {
        {"dec:6", 123, B{'0', '0', '0', '1', '2', '3'}},
        {"dec:1", 7, B{'7'}},
        {"hex:4", 0xBEEF, B{'B', 'E', 'E', 'F'}},
        {"hex:3", 0x2A, B{'0', '2', 'A'}},
        {"u16le", 0x1234, B{0x34, 0x12}},
        {"u16be", 0x1234, B{0x12, 0x34}},
        {"u32le", 0x12345678, B{0x78, 0x56, 0x34, 0x12}},
        {"u32be", 0x12345678, B{0x12, 0x34, 0x56, 0x78}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const SerialPlan plan = Plan(c.format, 0, 0xFFFF);
        EXPECT_EQ(SerialBytes(plan, c.number), c.bytes);
        EXPECT_EQ(SerialFormatName(plan), c.format);
    }
    SerialPlan plan;
    for (const char* bad :
         {"dec", "dec:", "dec:0", "dec:21", "dec:+3", "hex:x", "u24le", "U16LE"}) {
        EXPECT_FALSE(ParseSerialFormat(bad, plan)) << bad;
    }
}

// Every number of a range must fit its format, and the number must fit the
// image where it is written.
TEST(SerialNumbersTest, ARangeThatCannotBeKeptIsRefused) {
    std::string error;
    EXPECT_TRUE(CheckSerialPlan(Plan("dec:3", 1, 999), error)) << error;
    EXPECT_FALSE(CheckSerialPlan(Plan("dec:3", 1, 1000), error));
    EXPECT_EQ(error, "the last serial number 1000 does not fit dec:3 (at most 999)");
    EXPECT_FALSE(CheckSerialPlan(Plan("u16be", 1, 65536), error));
    EXPECT_FALSE(CheckSerialPlan(Plan("hex:2", 0, 256), error));
    EXPECT_FALSE(CheckSerialPlan(Plan("u32le", 10, 9), error));
    EXPECT_EQ(error, "the first serial number 10 is above the last, 9");
    EXPECT_FALSE(CheckSerialPlan(Plan("u32le", 1, 9, 0), error));
    EXPECT_TRUE(CheckSerialPlan(Plan("dec:20", 0, 18446744073709551614u), error)) << error;

    SerialPlan plan = Plan("u32be");
    plan.offset = 96;
    EXPECT_TRUE(SerialFitsImage(plan, 100, error)) << error;
    EXPECT_FALSE(SerialFitsImage(plan, 99, error));
    EXPECT_EQ(error, "the serial number (4 bytes at offset 96) does not fit the image's 99 bytes");
    plan.offset = 0xFFFFFFFF;
    EXPECT_FALSE(SerialFitsImage(plan, 100, error));
}

// The pool gives the lowest number given back first, else the next; it
// keeps the next on the disk before giving one, so that a new pool (a
// restart, after a crash) never gives a number again; and it starts above
// the numbers the records say were used.
TEST(SerialNumbersTest, ThePoolNeverGivesANumberTwice) {
    TempDir dir{"serials"};
    const std::string state = (dir.path() / "units.jsonl.next-serial").string();
    const SerialPlan plan = Plan("dec:4", 10, 20, 2);  // 10, 12, ..., 20
    std::string error;
    {
        SerialPool pool;
        ASSERT_TRUE(pool.Open(plan, state, std::nullopt, error)) << error;
        ASSERT_TRUE(pool.Hold(0) && pool.Hold(1));
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{10});
        EXPECT_EQ(ReadWholeFile(state), "next = 12\n") << "kept before it was given";
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{12});
        pool.GiveBack(10);  // a unit that failed
        pool.Used(12);
        ASSERT_TRUE(pool.Hold(0));
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{10});
        ASSERT_TRUE(pool.Hold(0));
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{14});
    }
    {
        // A crash: what was given is never given again.
        SerialPool pool;
        ASSERT_TRUE(pool.Open(plan, state, std::nullopt, error)) << error;
        ASSERT_TRUE(pool.Hold(0));
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{16});
    }
    {
        // The records hold a higher number than the kept one (a kept file
        // restored from a backup): the pool starts above the records'.
        SerialPool pool;
        ASSERT_TRUE(pool.Open(plan, state, std::uint64_t{18}, error)) << error;
        ASSERT_TRUE(pool.Hold(0));
        EXPECT_FALSE(pool.Hold(1)) << "only 20 is left";
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{20});
        // 0's unit fails: 1 asked first, and gets 20 before 0 again.
        pool.GiveBack(20);
        EXPECT_FALSE(pool.Hold(0));
        ASSERT_TRUE(pool.Hold(1));
        EXPECT_EQ(pool.Take(error), std::optional<std::uint64_t>{20});
        EXPECT_FALSE(pool.UsedUp()) << "20 is out, with a unit";
        pool.Used(20);
        EXPECT_TRUE(pool.UsedUp());
    }
    std::ofstream(state) << "next = twelve\n";
    SerialPool pool;
    EXPECT_FALSE(pool.Open(plan, state, std::nullopt, error));
    EXPECT_EQ(error, "reading " + state + ": not the next serial number");
}

}  // namespace
