// A record file that stops taking records (here a file-size limit, as a
// full disk would): the unit is held, shown and not counted, the station
// stops, and nothing starts until the held record is written. The counts
// shown are then what a restart reads back.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "station/day_counts.h"
#include "station/position_words.h"
#include "tests/station_fixture.h"
#include "ui/station_dlg.h"
#include "ui/station_layout.h"

namespace {

// The file-size limit of this process, and SIGXFSZ ignored as the
// programs ignore it, for as long as it lives.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &m_previous);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        sigaction(SIGXFSZ, &m_previous, nullptr);
    }
    bool Set() const { return m_set; }

  private:
    rlimit m_old{};
    struct sigaction m_previous {};
    bool m_set = false;
};

// Counts each failure the station tells, and nothing else.
class Failures : public StationEvents {
  public:
    void RecordFailed(const std::string& message) override { messages.push_back(message); }
    std::vector<std::string> messages;
};

using StationRecordFailureTest = StationTest;

TEST_F(StationRecordFailureTest, AUnitNotRecordedIsHeldNotCountedAndStopsTheStation) {
    SimulatedDevice machine(kType);
    machine.AttachTo("COM1");
    settings.ports = {"COM1"};
    Failures failures;
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &failures);
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    const PositionView& view = station->Positions()[0];
    ASSERT_TRUE(RunUntil([&] { return view.counts.passed == 1; }))
        << StateWords(view) << " / " << ReasonWords(view);
    const std::string firstRecord = ReadWholeFile(settings.record);

    {
        // The second unit's record takes only part of its line.
        const FileSizeLimit full(std::filesystem::file_size(settings.record) + 10);
        ASSERT_TRUE(full.Set());
        ASSERT_TRUE(RunUntil([&] { return !station->Running(); }));
        ASSERT_EQ(failures.messages.size(), 1u);
        EXPECT_NE(failures.messages[0].find("could not be written to " + settings.record),
                  std::string::npos)
            << failures.messages[0];
        ASSERT_TRUE(view.last);
        EXPECT_EQ(view.last->result, UnitResult::Done);
        EXPECT_FALSE(view.notRecorded.empty());
        EXPECT_EQ(VerdictWord(view), "HOLD");
        EXPECT_EQ(ReasonWords(view).rfind("Not recorded, not counted (Done: ", 0), 0u)
            << ReasonWords(view);
        EXPECT_EQ(view.counts, (PositionCounts{1, 0}));
        // The file is as it was: no part of a line.
        EXPECT_EQ(ReadWholeFile(settings.record), firstRecord);

        // Nothing starts while the held record cannot be written.
        EXPECT_FALSE(station->Start(error));
        EXPECT_NE(error.find("writing the held records to " + settings.record), std::string::npos)
            << error;
        EXPECT_FALSE(station->Running());
    }

    // The disk has room again: Start writes the held record first.
    ASSERT_TRUE(station->Start(error)) << error;
    station->Stop();
    ASSERT_TRUE(RunUntil([&] { return !station->Running(); }));
    EXPECT_EQ(Records().size(), 2u);
    EXPECT_TRUE(view.notRecorded.empty());
    EXPECT_EQ(VerdictWord(view), "PASS");
    DayCounts read;
    ASSERT_TRUE(ReadDayCounts(settings.record, TodaysCountRules(), read, error)) << error;
    EXPECT_EQ(view.counts, read.positions[0]);
    EXPECT_EQ(view.counts, (PositionCounts{2, 0}));
}

// The window's side of it: the panel says HOLD and why, the count stays
// what the file holds, the operator is told, and Start starts nothing until
// the held record is written.
TEST_F(StationRecordFailureTest, TheWindowShowsHoldAndStartsNothingUntilTheRecordIsWritten) {
    SimulatedDevice machine(kType);
    machine.AttachTo("COM1");
    settings.ports = {"COM1"};
    image.bytes = StoredImage(kType, Pattern(2048, 7));
    settings.image = dir.Write("fw.UPL", image.bytes).string();
    headless::ClearMessageBoxes();
    CStationDlg dlg(settings, "", false);
    app.m_pMainWnd = &dlg;
    ASSERT_TRUE(dlg.Create());
    auto panel = [&](int field) { return dlg.GetDlgItemText(PanelControlId(0, field)); };
    auto advanceUntil = [&](const std::function<bool()>& done) {
        for (int t = 0; t < 60000 && !done(); t += 50) {
            headless::Advance(50);
        }
        return done();
    };
    {
        const FileSizeLimit full(10);  // the empty record file takes no record
        ASSERT_TRUE(full.Set());
        ASSERT_TRUE(headless::Click(dlg, IDC_ST_START));
        ASSERT_TRUE(advanceUntil([&] { return panel(PANEL_RESULT) == "HOLD"; }));
        ASSERT_TRUE(advanceUntil([&] { return !dlg.GetStation()->Running(); }));
        EXPECT_EQ(panel(PANEL_REASON).rfind("Not recorded, not counted (Done: ", 0), 0u)
            << panel(PANEL_REASON);
        EXPECT_EQ(panel(PANEL_COUNTS), "Passed 0    Failed 0");
        EXPECT_EQ(dlg.GetDlgItemText(IDC_ST_TOTALS), "Today: 0 passed, 0 failed");
        ASSERT_EQ(headless::MessageBoxes().size(), 1u);
        EXPECT_NE(headless::MessageBoxes()[0].find("HOLD"), std::string::npos)
            << headless::MessageBoxes()[0];

        ASSERT_TRUE(headless::Click(dlg, IDC_ST_START));  // refused, and said so
        EXPECT_FALSE(dlg.GetStation()->Running());
        ASSERT_EQ(headless::MessageBoxes().size(), 2u);
        EXPECT_TRUE(headless::MessageBoxes()[1].starts_with("The station cannot start"))
            << headless::MessageBoxes()[1];
        EXPECT_EQ(ReadWholeFile(settings.record), "");
    }
    ASSERT_TRUE(headless::Click(dlg, IDC_ST_START));
    EXPECT_TRUE(dlg.GetStation()->Running());
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_EQ(panel(PANEL_RESULT), "PASS");
    EXPECT_EQ(panel(PANEL_COUNTS), "Passed 1    Failed 0");
    dlg.DestroyWindow();
}

}  // namespace
