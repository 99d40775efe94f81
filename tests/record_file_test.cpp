// The record file on real files: a record never glued onto what a power
// failure left, and nothing that is not a regular file taken as one. Built
// into the core's tests and into the Windows test runner, which runs it
// under Wine.
#include "station/record_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "station/day_counts.h"
#include "tests/test_data.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

std::string Record(int position, const char* result) {
    return "{\"time\":\"2026-12-11T09:00:00Z\",\"station\":\"vm\",\"position\":" +
           std::to_string(position) + ",\"result\":\"" + result + "\"}\n";
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The power failed while a line was written: the file ends in the first
// part of a record. The fragment stays, as it is; the next record starts on
// a line of its own, and the day's counts read every whole line, with the
// fragment counted as unreadable. (Glued onto the fragment, the new record
// would be lost to every reader.)
TEST(RecordFileTest, ARecordAfterATornLineStartsOnALineOfItsOwn) {
    TempDir dir{"records"};
    const fs::path path = dir.path() / "units.jsonl";
    const std::string fragment = "{\"time\":\"2026-12-11T08:59:58Z\",\"station\":\"vm\",\"pos";
    std::ofstream(path, std::ios::binary) << Record(1, "done") << fragment;

    RecordFile records;
    std::string error;
    ASSERT_TRUE(records.Open(Utf8(path), error)) << error;
    ASSERT_TRUE(records.Append(Record(1, "done"), error)) << error;
    ASSERT_TRUE(records.Append(Record(2, "silent"), error)) << error;
    EXPECT_EQ(Contents(path),
              Record(1, "done") + fragment + "\n" + Record(1, "done") + Record(2, "silent"));

    DayCounts counts;
    ASSERT_TRUE(ReadDayCounts(Utf8(path), {.day = 2026y / December / 11d}, counts, error)) << error;
    EXPECT_EQ(counts.positions[0], (PositionCounts{2, 0}));
    EXPECT_EQ(counts.positions[1], (PositionCounts{0, 1}));
    EXPECT_EQ(counts.unreadable, 1);
}

// A new file, an empty one and one that ends in a whole line get no line
// break of their own.
TEST(RecordFileTest, AWholeFileIsAppendedToAsItIs) {
    TempDir dir{"records"};
    const struct {
        const char* name;
        bool exists;
        std::string before;
    } cases[] = {{"new", false, ""}, {"empty", true, ""}, {"whole", true, Record(3, "done")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string& before = c.before;
        const fs::path path = dir.path() / (std::string(c.name) + ".jsonl");
        if (c.exists) {
            std::ofstream(path, std::ios::binary) << before;
        }
        RecordFile records;
        std::string error;
        ASSERT_TRUE(records.Open(Utf8(path), error)) << error;
        ASSERT_TRUE(records.Append(Record(1, "done"), error)) << error;
        EXPECT_EQ(Contents(path), before + Record(1, "done"));
    }
}

// A folder is no record file: refused at the open, before any unit, and
// left as it was.
TEST(RecordFileTest, AFolderIsRefused) {
    TempDir dir{"records"};
    RecordFile records;
    std::string error;
    EXPECT_FALSE(records.Open(Utf8(dir.path()), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(records.IsOpen());
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
