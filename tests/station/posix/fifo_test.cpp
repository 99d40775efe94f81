// What is not a regular file, named where the station expects one, is
// refused at once, never waited on: a FIFO with no reader would hold a
// plain open for ever. And a record cut short by a file-size limit is cut
// back off the file.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "station/day_counts.h"
#include "station/record_file.h"
#include "station/records.h"
#include "station/station.h"
#include "station/station_file.h"
#include "tests/station/station_test_folder.h"

namespace {

using StationFifoTest = StationFolderTest;

// The station file, the day's counts and the record file as the station
// opens it (OpenStation, as both front ends do): each refused at once, and
// the station not opened.
TEST_F(StationFifoTest, AFifoOrADeviceIsRefusedWithoutWaiting) {
    const std::string fifo = PathOf("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    StationSettings settings;
    std::string error;
    EXPECT_FALSE(ReadStationFile(fifo, settings, error));
    EXPECT_EQ(error, "opening " + fifo + ": Not a regular file (a FIFO)");

    DayCounts counts;
    error.clear();
    EXPECT_FALSE(ReadDayCounts(fifo, {.day = std::chrono::year_month_day{}}, counts, error));
    EXPECT_EQ(error, "opening " + fifo + ": Not a regular file (a FIFO)");

    const struct {
        std::string path, reason;
    } records[] = {{fifo, "Not a regular file (a FIFO)"},
                   {"/dev/null", "Not a regular file (a device)"}};
    for (const auto& r : records) {
        SCOPED_TRACE(r.path);
        settings = {};
        settings.image = Put("a.UPL", std::string(300, 'x'));
        settings.ports = {"COM1"};
        settings.record = r.path;
        LoadedImage image;
        StationRefusal refusal;
        EXPECT_EQ(OpenStation(settings, image, nullptr, nullptr, {}, refusal), nullptr);
        EXPECT_EQ(refusal.kind, StationRefusal::Kind::Records);
        EXPECT_EQ(refusal.error, "opening " + r.path + ": " + r.reason);
    }
}

// A file-size limit lets a record's write take only part of the line: the
// part is cut off again, so the file still ends in a whole line, and the
// failure says what happened.
TEST_F(StationFifoTest, ARecordCutShortIsCutBackOffTheFile) {
    const std::string before = "{\"result\":\"done\"}\n";
    const std::string path = Put("units.jsonl", before);
    RecordFile records;
    std::string error;
    ASSERT_TRUE(records.Open(path, error)) << error;

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit limit = old;
    limit.rlim_cur = before.size() + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool appended = records.Append(std::string(40, 'r') + "\n", error);
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(appended);
    EXPECT_EQ(error, "only 10 of 41 bytes written; cut off again");
    EXPECT_EQ(Contents("units.jsonl"), before);
    // And the next record lands after the last whole line.
    ASSERT_TRUE(records.Append("{\"result\":\"silent\"}\n", error)) << error;
    EXPECT_EQ(Contents("units.jsonl"), before + "{\"result\":\"silent\"}\n");
}

}  // namespace
