// The day's counts read back from a record file.
#include "station/day_counts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/station/station_test_folder.h"

namespace {

using namespace std::chrono;

constexpr year_month_day kDay = 2026y / December / 11d;

// A record line as download-cli writes one; position 0 leaves it out.
std::string Record(const std::string& time, int position, const std::string& result,
                   const std::string& reason = "whole image sent") {
    return "{\"time\":\"" + time + "\",\"station\":\"vm\",\"version\":\"1.0.0.1\"" +
           (position > 0 ? ",\"position\":" + std::to_string(position) : "") +
           ",\"port\":\"/dev/ttyUSB1\",\"type\":1,\"machine\":\"Quenta 5X\",\"image\":\"a.UPL\","
           "\"size\":131072,\"sha256\":\"9b7a\",\"seconds\":23.5,\"repeats\":0,\"result\":\"" +
           result + "\",\"reason\":\"" + reason + "\"}";
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

struct Count {
    int position, passed, failed;
};

DayCounts Expect(const std::vector<Count>& counts, int unreadable = 0, int doneInFile = 0) {
    DayCounts d;
    d.doneInFile = doneInFile;
    for (const Count& c : counts) {
        d.positions[static_cast<std::size_t>(c.position - 1)] = {c.passed, c.failed};
    }
    d.unreadable = unreadable;
    return d;
}

std::string Describe(const DayCounts& d) {
    std::string text;
    for (std::size_t i = 0; i < d.positions.size(); ++i) {
        if (d.positions[i].passed || d.positions[i].failed) {
            text += "[" + std::to_string(i + 1) + "] " + std::to_string(d.positions[i].passed) +
                    "/" + std::to_string(d.positions[i].failed) + " ";
        }
    }
    return text + "unreadable " + std::to_string(d.unreadable) + " done in the file " +
           std::to_string(d.doneInFile);
}

// A record whose line is exactly size bytes long.
std::string RecordOfSize(std::size_t size) {
    const std::string bare = Record("2026-12-11T12:00:00Z", 5, "done", "");
    return Record("2026-12-11T12:00:00Z", 5, "done", std::string(size - bare.size(), 'x'));
}

using DayCountsTest = StationFolderTest;

TEST_F(DayCountsTest, CountsTheDaysUnitsPerPosition) {
    const std::string noon = "2026-12-11T12:00:00Z";
    struct Case {
        const char* name;
        std::string text;
        int offset;
        bool unnumbered;
        DayCounts expected;
        year_month_day day = kDay;
    };
    const Case cases[] = {
        {"results: done passes, interrupted is neither, any other fails",
         Lines({Record(noon, 1, "done"), Record(noon, 1, "done"), Record(noon, 2, "no machine"),
                Record(noon, 2, "silent"), Record(noon, 3, "interrupted"), Record(noon, 16, "done"),
                Record(noon, 16, "port refused"), Record(noon, 4, "something new")}),
         0, false, Expect({{1, 2, 0}, {2, 0, 2}, {4, 0, 1}, {16, 1, 1}})},
        {"an hour east of UTC: the day runs from 23:00 to 23:00 UTC",
         Lines({Record("2026-12-10T22:59:59Z", 1, "done"),
                Record("2026-12-10T23:00:00Z", 2, "done"),
                Record("2026-12-11T22:59:59Z", 3, "done"),
                Record("2026-12-11T23:00:00Z", 4, "done")}),
         60, false, Expect({{2, 1, 0}, {3, 1, 0}})},
        {"five hours west of UTC: from 05:00 to 05:00 UTC",
         Lines({Record("2026-12-11T04:59:59Z", 1, "done"),
                Record("2026-12-11T05:00:00Z", 2, "stopped"),
                Record("2026-12-12T04:59:59Z", 3, "done"),
                Record("2026-12-12T05:00:00Z", 4, "done")}),
         -300, false, Expect({{2, 0, 1}, {3, 1, 0}})},
        {"the first day of a year, in UTC",
         Lines({Record("2026-12-31T23:59:59Z", 1, "done"),
                Record("2027-01-01T00:00:00Z", 1, "done"),
                Record("2027-01-01T23:59:59Z", 1, "silent"),
                Record("2027-01-02T00:00:00Z", 1, "done")}),
         0, false, Expect({{1, 1, 1}}), 2027y / January / 1d},
        {"without a position: not counted unless asked",
         Lines({Record(noon, 0, "done"), Record(noon, 0, "silent"), Record(noon, 1, "done")}), 0,
         false, Expect({{1, 1, 0}})},
        {"without a position: position 1 when asked",
         Lines({Record(noon, 0, "done"), Record(noon, 0, "silent"), Record(noon, 1, "done")}), 0,
         true, Expect({{1, 2, 1}})},
        {"a torn last line is skipped",
         Lines({Record(noon, 1, "done")}) + Record(noon, 2, "done").substr(0, 120), 0, false,
         Expect({{1, 1, 0}}, 1)},
        {"a whole last record without its newline counts",
         Lines({Record(noon, 1, "done")}) + Record(noon, 2, "done"), 0, false,
         Expect({{1, 1, 0}, {2, 1, 0}})},
        {"CRLF line ends, blank lines, blanks around the parts",
         Record(noon, 1, "done") + "\r\n\r\n  \t\n" + " { \"time\" : \"" + noon +
             "\" , \"position\" : 2 , \"result\" : \"done\" } \r\n",
         0, false, Expect({{1, 1, 0}, {2, 1, 0}})},
        {"escapes are read; unknown fields of every kind are passed over",
         Lines({"{\"time\":\"" + noon + "\",\"position\":1,\"result\":\"d\\u006fne\"}",
                "{\"time\":\"" + noon +
                    "\",\"position\":2,\"x\":true,\"y\":false,\"z\":null,\"n\":-1.5e-3,"
                    "\"reason\":\"a \\\"b\\\" c:\\\\d \\u00e9 \\ud83d\\ude00 \\/ \\b\\f\\n\\r\\t\","
                    "\"result\":\"done\"}",
                "{\"time\":\"" + noon + "\",\"port\":\"/dev/tty\xC3\xA9\",\"position\":3," +
                    "\"image\":\"\xFF\xFE.UPL\",\"result\":\"done\"}"}),
         0, false, Expect({{1, 1, 0}, {2, 1, 0}, {3, 1, 0}})},
        {"the supervisor's event lines are neither units nor unreadable",
         Lines({Record(noon, 1, "done"),
                "{\"time\":\"" + noon + "\",\"station\":\"vm\",\"event\":\"unlocked\"}",
                "{\"time\":\"" + noon +
                    "\",\"station\":\"vm\",\"event\":\"wrong password\",\"station_file\":\"a\"}",
                // Fields a unit's record has do not make an event one.
                "{\"time\":\"" + noon +
                    "\",\"event\":\"settings changed\",\"position\":1,\"result\":\"done\"}",
                "{\"event\":\"locked\"}", Record(noon, 2, "silent")}),
         0, false, Expect({{1, 1, 0}, {2, 0, 1}})},
        {"positions out of range are not counted, and are no error",
         Lines({Record(noon, 17, "done"),
                "{\"time\":\"" + noon + "\",\"position\":0,\"result\":\"done\"}",
                "{\"time\":\"" + noon +
                    "\",\"position\":99999999999999999999999,\"result\":\"done\"}"}),
         0, false, Expect({})},
        {"lines that cannot be read are skipped, the rest counted",
         Lines({
             "not JSON at all",
             "[1,2,3]",
             "{}",
             "{\"position\":1}",
             Record(noon, 1, "done") + " trailing",
             Record(noon, 1, "done") + "}",
             "{\"time\":\"" + noon + "\",\"position\":1,\"result\":\"done\",}",
             "{'time':'" + noon + "','position':1,'result':'done'}",
             "{\"time\":\"" + noon + "\",\"position\":1,\"result\":\"done\",\"x\":{\"a\":1}}",
             "{\"time\":\"" + noon + "\",\"position\":1,\"result\":\"done\",\"x\":[]}",
             "{\"time\":\"" + noon + "\",\"position\":\"2\",\"result\":\"done\"}",
             "{\"time\":\"" + noon + "\",\"position\":2.0,\"result\":\"done\"}",
             "{\"time\":\"" + noon + "\",\"position\":-2,\"result\":\"done\"}",
             "{\"time\":\"" + noon + "\",\"position\":02,\"result\":\"done\"}",
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":1}",
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":null}",
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":\"done\",\"result\":\"x\"}",
             "{\"time\":\"" + noon + "\",\"position\":2,\"position\":3,\"result\":\"done\"}",
             "{\"time\":1765412624,\"position\":2,\"result\":\"done\"}",
             "{\"position\":2,\"result\":\"done\"}",
             Record("2026-12-11 12:00:00Z", 2, "done"),
             Record("2026-12-11T12:00:00", 2, "done"),
             Record("2026-02-30T12:00:00Z", 2, "done"),
             Record("2026-12-11T24:00:00Z", 2, "done"),
             Record("2026-12-11T12:00:00+01:00", 2, "done"),
             Record(noon, 2, "done", "a lone half \\ud800 of a pair"),
             Record(noon, 2, "done", "a second half alone \\udc00"),
             Record(noon, 2, "done", "a first half and no second \\ud83d\\u0041"),
             Record(noon, 2, "done", "a first half and no second \\ud83d\\ue000"),
             Record("2026-12-11T12:00:61Z", 2, "done"),
             Record(noon, 2, "done", "a bad escape \\x41"),
             Record(noon, 2, "done", "a short one \\u00e"),
             Record(noon, 2, "done", "a raw\ttab"),
             Record(noon, 2, "done", std::string("a NUL\0byte", 10)),
             Record(noon, 2, "done", "an open end \\"),
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":\"done\"",
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":tru}",
             "{\"time\":\"" + noon + "\",\"position\":2,\"result\":\"done\" \"x\":1}",
             "{\"time\":\"" + noon + "\",\"position\":1.,\"result\":\"done\"}",
             "{\"time\":\"" + noon + "\",\"position\":1e,\"result\":\"done\"}",
             Record(noon, 1, "done"),
         }),
         0, false, Expect({{1, 1, 0}}, 40)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DayCounts counts = Expect({{9, 9, 9}}, 9);  // replaced, not added to
        std::string error;
        ASSERT_TRUE(ReadDayCounts(
            Put("units.jsonl", c.text),
            {.day = c.day, .utcOffsetMinutes = c.offset, .unnumberedIsPosition1 = c.unnumbered},
            counts, error))
            << error;
        // The day's counts; every day's done units are counted on their
        // own below.
        EXPECT_EQ(counts.positions, c.expected.positions)
            << Describe(counts) << " expected " << Describe(c.expected);
        EXPECT_EQ(counts.unreadable, c.expected.unreadable)
            << Describe(counts) << " expected " << Describe(c.expected);
    }
}

// A limit counts every unit done in the file: any day, any position or
// none; not the failed, the interrupted or what cannot be read.
TEST_F(DayCountsTest, CountsEveryDoneUnitOfTheFileForALimit) {
    const std::string text =
        Lines({Record("2026-12-09T12:00:00Z", 1, "done"), Record("2026-12-11T12:00:00Z", 2, "done"),
               Record("2026-12-11T12:00:00Z", 0, "done"),
               Record("2027-03-01T12:00:00Z", 17, "done"),
               Record("2026-12-11T12:00:00Z", 1, "silent"),
               Record("2026-12-11T12:00:00Z", 1, "interrupted"), "{\"result\":\"done\"}",
               "{\"time\":\"2026-12-11T12:00:00Z\",\"event\":\"unlocked\",\"result\":\"done\"}"}) +
        Record("2026-12-11T12:00:00Z", 3, "done").substr(0, 60);
    DayCounts counts;
    std::string error;
    ASSERT_TRUE(ReadDayCounts(Put("units.jsonl", text), {.day = kDay}, counts, error)) << error;
    EXPECT_EQ(counts, Expect({{2, 1, 0}, {1, 0, 1}}, 2, 4)) << Describe(counts);
}

TEST_F(DayCountsTest, ALineLongerThanTheBoundIsSkippedNotHeld) {
    const DayCountRules today{.day = kDay};
    const std::string atBound = RecordOfSize(kMaxRecordLineBytes);
    const std::string overBound = RecordOfSize(kMaxRecordLineBytes + 1);
    // Far longer than the bound and than one read, and then more records.
    const std::string huge = RecordOfSize(300 * 1024);
    const std::string text =
        Lines({atBound, overBound, huge, Record("2026-12-11T08:00:00Z", 1, "done")}) + atBound +
        "\r\n" + overBound + "\r\n" + huge;
    DayCounts counts;
    std::string error;
    ASSERT_TRUE(ReadDayCounts(Put("units.jsonl", text), today, counts, error)) << error;
    EXPECT_EQ(counts, Expect({{1, 1, 0}, {5, 2, 0}}, 4, 3)) << Describe(counts);
}

TEST_F(DayCountsTest, AMissingFileCountsNothingAnUnreadableOneIsAnError) {
    const DayCountRules today{.day = kDay};
    DayCounts counts = Expect({{1, 1, 1}}, 1);
    std::string error;
    EXPECT_TRUE(ReadDayCounts(PathOf("missing.jsonl"), today, counts, error)) << error;
    EXPECT_EQ(counts, DayCounts{});
    EXPECT_TRUE(ReadDayCounts(PathOf("no-folder/missing.jsonl"), today, counts, error)) << error;

    Put("empty.jsonl", "");
    counts = Expect({{1, 1, 1}}, 1);
    EXPECT_TRUE(ReadDayCounts(PathOf("empty.jsonl"), today, counts, error)) << error;
    EXPECT_EQ(counts, DayCounts{});

    std::filesystem::create_directory(m_folder / "folder.jsonl");
    counts = Expect({{1, 1, 1}}, 1);
    EXPECT_FALSE(ReadDayCounts(PathOf("folder.jsonl"), today, counts, error));
    EXPECT_NE(error.find(PathOf("folder.jsonl") + ": "), std::string::npos) << error;
    EXPECT_EQ(counts, Expect({{1, 1, 1}}, 1));  // left as it was
}

}  // namespace
