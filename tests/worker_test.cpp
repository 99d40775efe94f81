// Receive workers and closed ports: nothing stale ever acts, nothing is left
// behind.
#include "tests/test_support.h"

// The scan step closes a port while its worker waits in a hand-over that the
// window has not handled yet: the message is dropped without effect and the
// worker ends, before the next port is opened.
TEST_F(DialogTest, MessageInFlightWhenThePortClosesIsDropped) {
    SelectMachineType(1);
    QuietDevice first, second;
    memory::Line& com1 = memory::AttachDevice("COM1", &first);
    memory::Line& com2 = memory::AttachDevice("COM2", &second);
    Load(Pattern(1000), "a.UPL");
    Press(IDC_PROGRAM);
    headless::Advance(2000);  // COM1 opened at 1 s, given up at 2 s
    ASSERT_EQ(Status(), "COM1 connect fail... ");
    headless::Advance(999);
    ASSERT_EQ(memory::LiveWorkerCount(), 1);

    // The answer comes just before the step at 3 s, and the step is handled
    // before it.
    com1.Deliver({0x33, 0xBB, 0x80, 0x00, 0x00, 0x00});
    headless::SettleWorkers();  // the worker now waits in its hand-over
    dlg->SendMessage(WM_TIMER, TIMER_SCAN);
    EXPECT_FALSE(com1.IsOpen());
    EXPECT_TRUE(com2.IsOpen());
    headless::RunUntilIdle();

    EXPECT_EQ(com1.Writes().size(), 1u) << "only the opening request";
    EXPECT_EQ(dlg->GetBlockCounter(), 0u);
    EXPECT_FALSE(dlg->GetReplySeen());
    EXPECT_EQ(memory::LiveWorkerCount(), 1) << "only the new port's worker";
}

TEST_F(DialogTest, VanishingMachineLeavesTheToolUsable) {
    SelectMachineType(1);
    SimulatedDevice vanishing(1, SimFaults{.vanishAfterBlock = 3}, 2000);
    vanishing.AttachTo("COM1");
    LoadStored(1, Pattern(2000));
    Press(IDC_PROGRAM);
    headless::Advance(5000);
    EXPECT_TRUE(vanishing.machine.Vanished());
    EXPECT_EQ(memory::LiveWorkerCount(), 0) << "the worker ends with its line";
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "384");
    ExpectControls(false, false);  // no timeout once the exchange has begun

    // A fresh machine on the same port; Load File makes Program available.
    SimulatedDevice fresh(1, {}, 2000);
    fresh.AttachTo("COM1");
    const Bytes image = Pattern(2000, 7);
    LoadStored(1, image);
    Press(IDC_PROGRAM);
    ASSERT_TRUE(RunUntilProgramEnabled(20000));
    EXPECT_EQ(fresh.machine.Received(), image);
    EXPECT_EQ(Status(), ProgressText(100));
}

TEST_F(DialogTest, TwentyDownloadsInARowLeaveNothingBehind) {
    SelectMachineType(2);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        SimulatedDevice machine(2, {}, 700);
        machine.AttachTo(run % 2 ? "COM3" : "COM1");
        const Bytes image = Pattern(700, static_cast<unsigned>(run));
        LoadStored(2, image);
        Press(IDC_PROGRAM);
        ASSERT_TRUE(RunUntilProgramEnabled(20000));
        EXPECT_EQ(machine.machine.Received(), image);
        EXPECT_EQ(memory::LiveWorkerCount(), 0);
        EXPECT_LE(memory::OpenPortCount(), 1);
        memory::DetachAll();
    }
}

TEST_F(DialogTest, ClosingTheWindowReleasesAHandOverInFlight) {
    QuietDevice device;
    memory::Line& line = memory::AttachDevice("COM1", &device);
    Load(Pattern(1000));
    Press(IDC_PROGRAM);
    headless::Advance(1000);
    line.Deliver({'1'});
    headless::SettleWorkers();  // waiting in its hand-over
    dlg->DestroyWindow();
    dlg.reset();  // ends the worker; must not deadlock
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}
