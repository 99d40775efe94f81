// The typed events the main dialog tells an observer: what a front end
// without a window learns, in order, from a download on in-memory lines.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "ui/download_events.h"

namespace {

// Writes each event as one line of text.
class EventLog : public CDownloadEvents {
  public:
    void PortTried(const std::string& port, PortOutcome outcome,
                   const std::string& reason) override {
        const char* what = outcome == PortOutcome::Opened            ? "opened"
                           : outcome == PortOutcome::OpenFailed      ? "open failed"
                           : outcome == PortOutcome::SettingsRefused ? "settings refused"
                                                                     : "no answer";
        lines.push_back(port + " " + what + (reason.empty() ? "" : " (reason)"));
    }
    void ScanEnded() override { lines.push_back("scan ended"); }
    void MachineAnswered(const std::string& port) override { lines.push_back(port + " answered"); }
    void BlockSent(std::uint32_t sent, std::uint32_t total, std::uint32_t repeats) override {
        lines.push_back("sent " + std::to_string(sent) + "/" + std::to_string(total) + " r" +
                        std::to_string(repeats));
    }
    void DownloadEnded(DownloadEnd how) override {
        lines.push_back(how == DownloadEnd::Done ? "done" : "stopped");
    }
    void PortLost(const std::string& port) override { lines.push_back(port + " lost"); }

    std::vector<std::string> lines;
};

class EventsTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        dlg->SetEvents(&log);
    }
    void TearDown() override {
        dlg->SetEvents(nullptr);
        DialogTest::TearDown();
    }
    EventLog log;
};

// The dialog's own ports, not the global list; a port that is not there
// with the system's reason; then the machine, every block and the end.
TEST_F(EventsTest, AWholeDownloadInOrderOnTheDialogsOwnPorts) {
    dlg->SetPorts({"NOWHERE", "LINE-A"});
    SimulatedDevice machine(0, {}, 300);
    machine.AttachTo("LINE-A");
    Load(Pattern(300, 1));
    Press(IDC_PROGRAM);
    ASSERT_TRUE(RunUntilProgramEnabled(60000));

    EXPECT_EQ(log.lines, (std::vector<std::string>{"NOWHERE open failed (reason)", "LINE-A opened",
                                                   "LINE-A answered", "sent 128/300 r0",
                                                   "sent 256/300 r0", "sent 300/300 r0", "done"}));
    // What the window showed is unchanged by the observer.
    EXPECT_EQ(Status(), ProgressText(100));
}

// Nothing answers: each port is told, then the end of the scan.
TEST_F(EventsTest, AScanThatFindsNothing) {
    dlg->SetPorts({"NOWHERE", "LINE-Q"});
    QuietDevice quiet;
    memory::AttachDevice("LINE-Q", &quiet);
    Load(Pattern(300, 1));
    Press(IDC_PROGRAM);
    ASSERT_TRUE(RunUntilProgramEnabled(60000));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"NOWHERE open failed (reason)", "LINE-Q opened",
                                                   "LINE-Q no answer", "scan ended"}));
}

// A line setting the driver refuses is told with the call and its reason;
// the scan goes on with the port, as the window's does.
TEST_F(EventsTest, RefusedSettingsAreToldAndTheScanGoesOn) {
    dlg->SetPorts({"LINE-S"});
    SimulatedDevice machine(0, {}, 300);
    machine.AttachTo("LINE-S");
    memory::SetConfigureFails("LINE-S", true);
    Load(Pattern(300, 1));
    Press(IDC_PROGRAM);
    ASSERT_TRUE(RunUntilProgramEnabled(60000));
    memory::SetConfigureFails("LINE-S", false);
    ASSERT_GE(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "LINE-S opened");
    EXPECT_EQ(log.lines[1], "LINE-S settings refused (reason)");
    EXPECT_EQ(log.lines.back(), "done");
}

// A device that goes away mid-download is told once; closing our own port
// (the next Program) is not a loss.
TEST_F(EventsTest, APortLostButNotOneWeClosed) {
    dlg->SetPorts({"LINE-V"});
    SimulatedDevice machine(0, SimFaults{.vanishAfterBlock = 2}, 1000);
    machine.AttachTo("LINE-V");
    Load(Pattern(1000, 2));
    Press(IDC_PROGRAM);
    headless::Advance(10000);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), "LINE-V lost");
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "LINE-V lost"), 1);

    // A machine that stays: its port is closed by our own next scan step.
    log.lines.clear();
    QuietDevice quiet;
    memory::AttachDevice("LINE-V", &quiet);
    Load(Pattern(1000, 2));
    Press(IDC_PROGRAM);
    headless::Advance(5000);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"LINE-V opened", "LINE-V no answer", "scan ended"}));
}

// Loading from a path returns the file layer's error as a value: no message
// box, and nothing shown changes.
TEST_F(EventsTest, LoadImageFileReturnsItsError) {
    const auto error = dlg->LoadImageFile((dir.path() / "missing.EUP").string());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->m_operation, "opening");
    EXPECT_TRUE(headless::MessageBoxes().empty());
    EXPECT_EQ(Text(IDC_LENGTH), "0");
    ExpectControls(false, false);

    EXPECT_FALSE(dlg->LoadImageFile(WriteFile(Pattern(500, 3), "a.EUP").string()).has_value());
    EXPECT_EQ(Text(IDC_LENGTH), "500");
    ExpectControls(true, false);
}

}  // namespace
