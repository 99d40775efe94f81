// A FIFO named as the station file or the record file is refused at once,
// never waited on for a writer that does not come.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "station/day_counts.h"
#include "station/station_file.h"
#include "tests/station/station_test_folder.h"

namespace {

using StationFifoTest = StationFolderTest;

TEST_F(StationFifoTest, AFifoIsRefusedWithoutWaiting) {
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
}

}  // namespace
