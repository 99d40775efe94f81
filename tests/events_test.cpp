// The typed events the main dialog tells an observer: what a front end
// without a window learns, in order, from a download on in-memory lines.
#include <algorithm>
#include <atomic>
#include <memory>
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
    void DownloadEnded(const DownloadEnding& e) override {
        static constexpr const char* kHow[] = {"done", "stopped", "ended early", "port refused"};
        lines.push_back(std::string(kHow[static_cast<int>(e.how)]) + " " + std::to_string(e.sent) +
                        "/" + std::to_string(e.total) + (e.what.empty() ? "" : " " + e.what) +
                        (e.reason.empty() ? "" : ": " + e.reason));
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

    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"NOWHERE open failed (reason)", "LINE-A opened",
                                        "LINE-A answered", "sent 128/300 r0", "sent 256/300 r0",
                                        "sent 300/300 r0", "done 300/300"}));
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
    EXPECT_EQ(log.lines.back(), "done 300/300");
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

// Done is told only when it is true. The same image, done by a machine that
// takes it whole; ended early by one that believes the 16-bit length it is
// told; refused by a port whose output is held at the last block.
struct EndingCase {
    const char* name;
    MachineType type;
    std::uint32_t size;
    SimFaults faults;
    std::uint32_t received;  // what the machine got
    const char* ending;      // the last event
};

class Endings : public EventsTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(Endings, DoneOnlyWhenTheMachineGotTheWholeImage) {
    const EndingCase c = GetParam();
    if (c.type != 0) {
        SelectMachineType(c.type);
    }
    dlg->SetPorts({"LINE-E"});
    SimulatedDevice machine(c.type, c.faults, c.size);
    machine.AttachTo("LINE-E");
    const Bytes image = Pattern(c.size, 7);
    LoadStored(c.type, image);
    log.lines.clear();
    Press(IDC_PROGRAM);
    ASSERT_TRUE(RunUntilProgramEnabled(120000));

    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), c.ending);
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& l) {
                                return l.starts_with("done") || l.starts_with("ended") ||
                                       l.starts_with("port refused");
                            }),
              1)
        << "one ending";
    EXPECT_EQ(machine.machine.Received(), Bytes(image.begin(), image.begin() + c.received));
    // The window keeps its texts; Program comes back either way.
    ExpectControls(true, false);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Endings,
    ::testing::Values(
        EndingCase{"WholeImageTaken", 0, 70000, {}, 70000, "done 70000/70000"},
        EndingCase{"LengthBelievedAt16Bits", 0, 70000, SimFaults{.trustLength = true},
                   70000 % 65536, "ended early 4480/70000"},
        EndingCase{
            "OutputHeldAtTheLastBlock",
            1,
            256,
            SimFaults{.holdAfterBlock = 1},
            128,
            "port refused 128/256 block 1: the output did not drain in time (133 bytes "
            "still queued)",
        }),
    [](const auto& info) { return std::string(info.param.name); });

// A port that goes away before its machine answered is a port that did not
// answer, whether it goes before its reply deadline or after (it stays
// open until the next step): the scan goes on to the machine on the next.
class LostBeforeAnswer : public EventsTest, public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(LostBeforeAnswer, TheScanGoesOnToTheNextPort) {
    dlg->SetPorts({"LINE-A", "LINE-B"});
    QuietDevice quiet;
    memory::Line& first = memory::AttachDevice("LINE-A", &quiet);
    SimulatedDevice machine(0, {}, 300);
    machine.AttachTo("LINE-B");
    Load(Pattern(300, 1));
    Press(IDC_PROGRAM);
    headless::At(GetParam(), [&first] { first.Hangup(); });
    ASSERT_TRUE(RunUntilProgramEnabled(60000));

    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"LINE-A opened", "LINE-A no answer", "LINE-B opened",
                                        "LINE-B answered", "sent 128/300 r0", "sent 256/300 r0",
                                        "sent 300/300 r0", "done 300/300"}));
}

// The port opens at 1000 ms; its deadline is at 2000, the next step at 3000.
INSTANTIATE_TEST_SUITE_P(HangUpAt, LostBeforeAnswer, ::testing::Values(1500u, 2500u));

// The port of the last download stays open until the next scan's first
// step closes it: its device going away in between (the stalled unit taken
// off the fixture, as download-cli's --loop does after a silence) is no
// news of the new scan.
TEST_F(EventsTest, ThePortOfTheLastDownloadGoingIsNoNews) {
    dlg->SetPorts({"LINE-L"});
    SimulatedDevice machine(0, SimFaults{.muteAfterBlock = 2}, 1000);
    memory::Line& line = machine.AttachTo("LINE-L");
    Load(Pattern(1000, 1));
    Press(IDC_PROGRAM);
    headless::Advance(5000);
    ASSERT_EQ(log.lines.back(), "sent 256/1000 r0");  // and nothing more: it stalled

    log.lines.clear();
    Load(Pattern(1000, 1));  // Program is available again after a load
    Press(IDC_PROGRAM);
    line.Hangup();
    headless::Advance(3000);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"LINE-L open failed (reason)", "scan ended"}));
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

// Two positions in one process, as download-cli runs them: each dialog has
// its own ports and its own port options, and neither sees the other's. A
// machine played by hand on each line holds its output once the length has
// gone, and asks for blocks until the held queue (1024 bytes, eight blocks)
// takes no more: the position whose abort flag is set gives that write up
// as interrupted, the other, whose flag is clear, times out as usual. A line
// on the platform's list, in neither position's, is never opened.
TEST_F(EventsTest, TwoPositionsKeepTheirOwnPortsAndOptions) {
    std::atomic<int> stopNow{1};
    std::atomic<int> goOn{0};
    dlg->SetPorts({"POS-A"});
    dlg->SetPortOptions({.fastFrames = true, .abortFlag = &stopNow});
    EventLog otherLog;
    auto other = std::make_unique<CDownloadDlg>();
    ASSERT_TRUE(other->Create());
    other->SetEvents(&otherLog);
    other->SetPorts({"POS-B"});
    other->SetPortOptions({.fastFrames = false, .abortFlag = &goOn});

    QuietDevice deviceA, deviceB, bystander;
    memory::Line& lineA = memory::AttachDevice("POS-A", &deviceA);
    memory::Line& lineB = memory::AttachDevice("POS-B", &deviceB);
    memory::Line& unused = memory::AttachDevice(PortList().front(), &bystander);
    const Bytes image = Pattern(1536, 4);
    for (CDownloadDlg* d : {dlg.get(), other.get()}) {
        d->LoadImage(image.data(), image.size());
        ASSERT_TRUE(headless::Click(*d, IDC_PROGRAM));
    }
    headless::Advance(1000);
    ASSERT_TRUE(lineA.IsOpen());
    ASSERT_TRUE(lineB.IsOpen());
    EXPECT_FALSE(unused.IsOpen());
    EXPECT_TRUE(lineA.OpenPortOptions().fastFrames);
    EXPECT_EQ(lineA.OpenPortOptions().abortFlag, &stopNow);
    EXPECT_FALSE(lineB.OpenPortOptions().fastFrames);
    EXPECT_EQ(lineB.OpenPortOptions().abortFlag, &goOn);

    for (memory::Line* line : {&lineA, &lineB}) {
        line->Deliver({'0'});  // asks for the length
        headless::Advance(10);
        line->HoldOutput(true);
        line->Deliver({'1'});  // block 0
        headless::Advance(10);
        for (int block = 1; block <= 8; ++block) {
            line->Deliver({'2', '3'});
            headless::Advance(10);
        }
    }
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "POS-A opened", "POS-A answered", "sent 128/1536 r0", "sent 256/1536 r0",
                  "sent 384/1536 r0", "sent 512/1536 r0", "sent 640/1536 r0", "sent 768/1536 r0",
                  "sent 896/1536 r0", "sent 1024/1536 r0",
                  "sent 1152/1536 r0",  // shown as block 8 goes to the port
                  "port refused 1024/1536 block 8: given up: interrupted (0 of 128 "
                  "bytes taken)"}));
    ASSERT_FALSE(otherLog.lines.empty());
    EXPECT_EQ(otherLog.lines.front(), "POS-B opened");
    EXPECT_EQ(otherLog.lines.back(),
              "port refused 1024/1536 block 8: timed out after 12900 ms (0 of 128 bytes taken)");
    EXPECT_TRUE(unused.Writes().empty());

    other->SetEvents(nullptr);
    other.reset();
}
