// The port scan: its timing, its texts, answers that come late, and Program
// pressed while it runs.
#include "tests/test_support.h"

namespace {

// The ports a scan tries, in order: from the tenth on with the device
// namespace prefix, two backslashes, a dot and a backslash.
const std::vector<std::string> kPorts = {
    "COM1",         "COM2",         "COM3",         "COM4",         "COM5",         "COM6",
    "COM7",         "COM8",         "COM9",         "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM12",
    "\\\\.\\COM13", "\\\\.\\COM14", "\\\\.\\COM15", "\\\\.\\COM16"};

}  // namespace

TEST(PortList, IsTheSixteenComPorts) {
    EXPECT_EQ(ComPortNames(), kPorts);
    EXPECT_EQ(DefaultPortList(), kPorts) << "the in-memory backend stands in for Windows";
    EXPECT_EQ(PortList(), kPorts) << "the platform's list, as a dialog without its own takes it";
    // The prefix begins at the tenth port, and goes on past the sixteenth.
    EXPECT_EQ(ComPortName(9), "COM9");
    EXPECT_EQ(ComPortName(10), "\\\\.\\COM10");
    EXPECT_EQ(ComPortName(17), "\\\\.\\COM17");
}

// A scan's port index is one byte: a dialog keeps the first 255 names of a
// longer list of its own.
TEST_F(DialogTest, ADialogsOwnListKeepsItsFirst255Names) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back("NONE-" + std::to_string(i));
    }
    dlg->SetPorts(names);
    EXPECT_EQ(dlg->GetPorts(), std::vector<std::string>(names.begin(), names.begin() + 255));
    dlg->SetPorts({});
    EXPECT_TRUE(dlg->GetPorts().empty()) << "back to the platform's list";
}

TEST_F(DialogTest, ScanWithNoPortEndsAfter17Seconds) {
    Load(Bytes(300));
    Press(IDC_PROGRAM);
    ExpectControls(false, false);
    for (std::size_t i = 0; i < 16; ++i) {
        headless::Advance(1000);
        EXPECT_EQ(Status(), kPorts[i] + " open fail! ") << "at " << i + 1 << " s";
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
    }
    EXPECT_EQ(Status(), "\\\\.\\COM16 open fail! ");
    headless::Advance(999);
    ExpectControls(false, false);
    headless::Advance(1);  // 17 s
    ExpectControls(true, true);
    EXPECT_EQ(Status(), "\\\\.\\COM16 open fail! ");
    EXPECT_EQ(headless::NextEventTime(), std::nullopt) << "no timer left armed";
}

TEST_F(DialogTest, ScanWithEveryPortSilentEndsAfter33Seconds) {
    std::vector<std::unique_ptr<QuietDevice>> devices;
    std::vector<memory::Line*> lines;
    for (const auto& name : kPorts) {
        devices.push_back(std::make_unique<QuietDevice>());
        lines.push_back(&memory::AttachDevice(name, devices.back().get()));
    }
    Load(Bytes(300));
    Press(IDC_PROGRAM);
    for (std::size_t i = 0; i < 16; ++i) {
        headless::Advance(1000);
        EXPECT_EQ(Status(), kPorts[i] + " open success! ");
        EXPECT_TRUE(lines[i]->IsOpen());
        EXPECT_EQ(lines[i]->Writes(), std::vector<Bytes>{{'0'}}) << "opening request on " << i;
        EXPECT_EQ(lines[i]->Settings().baudRate, 9600u);
        headless::Advance(1000);
        EXPECT_EQ(Status(), kPorts[i] + " connect fail... ");
        EXPECT_FALSE(Enabled(IDC_PROGRAM));
    }
    headless::Advance(999);
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    headless::Advance(1);  // 33 s
    ExpectControls(true, true);
    EXPECT_EQ(Status(), "\\\\.\\COM16 connect fail... ");
    EXPECT_EQ(memory::OpenPortCount(), 0) << "the last port is closed by the last step";
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}

// What the scan asked of the port, field by field, and the opening request
// Program wrote, byte for byte. A framed machine's is the outbound frame
// CC DD, command 0x80, length byte 0x08 (nine payload bytes), the access
// string and its terminating zero, and the checksum of bytes 2 to 12.
TEST_F(DialogTest, PortIsConfiguredForTheMachineType) {
    QuietDevice device;
    memory::Line& line = memory::AttachDevice("\\\\.\\COM10", &device);
    struct Case {
        MachineType type;
        std::uint32_t baud, interval;
        Bytes request;
    };
    const Case cases[] = {
        {0, 9600, 70, {'0'}},
        {1,
         57600,
         20,
         {0xCC, 0xDD, 0x80, 0x08, 'Q', 'N', 'T', 'A', 'U', 'P', 'L', 'D', 0x00, 0xF1}},
        {2,
         57600,
         20,
         {0xCC, 0xDD, 0x80, 0x08, 'z', 't', 'u', 'p', 'l', 'o', 'a', 'd', 0x00, 0xFB}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        if (c.type != 0) {
            SelectMachineType(c.type);
        }
        Load(Bytes(300));
        const memory::LineSettings driver = line.Settings();
        Press(IDC_PROGRAM);
        headless::Advance(10000);  // COM1..COM9 fail, then \\.\COM10 opens
        ASSERT_EQ(Status(), "\\\\.\\COM10 open success! ");
        const memory::LineSettings s = line.Settings();
        EXPECT_EQ(s.baudRate, c.baud);
        EXPECT_EQ(s.dataBits, 8);
        EXPECT_EQ(s.parity, 0);
        EXPECT_EQ(s.stopBits, 2) << "stop bits are the driver's";
        EXPECT_EQ(s.flowControl, 1) << "flow control is the driver's";
        EXPECT_EQ(s.readIntervalTimeout, c.interval);
        EXPECT_EQ(s.readTotalMultiplier, 100u);
        EXPECT_EQ(s.readTotalConstant, 100u);
        EXPECT_EQ(s.writeTotalMultiplier, 100u);
        EXPECT_EQ(s.writeTotalConstant, 100u);
        EXPECT_EQ(s.inQueue, 1024u);
        EXPECT_EQ(s.outQueue, 1024u);
        EXPECT_EQ(s.eventMask, 1u) << "EV_RXCHAR";
        EXPECT_EQ(s.purges, driver.purges + 1);
        EXPECT_EQ(line.Writes(), std::vector<Bytes>{c.request});
        headless::Advance(8000);  // the rest of the scan
        ASSERT_TRUE(Enabled(IDC_MACHINE_TYPE));
        EXPECT_EQ(line.Settings().baudRate, driver.baudRate) << "closed as it was found";
        EXPECT_EQ(line.Settings().readIntervalTimeout, driver.readIntervalTimeout);
        memory::AttachDevice("\\\\.\\COM10", &device);  // forgets the writes
    }
}

// A driver that refuses a setting: the window has no text for it and goes
// on, and the machine's answer decides.
TEST_F(DialogTest, RefusedSettingLeavesTheWindowsTextsAlone) {
    SimulatedDevice machine(0, {}, 300);
    machine.AttachTo("COM1");
    memory::SetConfigureFails("COM1", true);
    const Bytes image = Pattern(300);
    Load(image);
    Press(IDC_PROGRAM);
    headless::Advance(1000);
    EXPECT_EQ(Status(), "COM1 open success! ");
    EXPECT_NE(LastConfigureError(), "");
    ASSERT_TRUE(RunUntilProgramEnabled(10000));
    EXPECT_EQ(Status(), "Programming...    100% Done  ");
    EXPECT_EQ(machine.machine.Received(), image);
}

TEST_F(DialogTest, BusyPortCountsAsOpenFailure) {
    QuietDevice device;
    memory::AttachDevice("COM1", &device);
    memory::SetBusy("COM1", true);
    Load(Bytes(300));
    Press(IDC_PROGRAM);
    headless::Advance(1000);
    EXPECT_EQ(Status(), "COM1 open fail! ");
}

TEST_F(DialogTest, MachineAnsweringOnTheFirstPortStopsTheScan) {
    SimulatedDevice machine(0, {}, 300);
    machine.AttachTo("COM1");
    Load(Pattern(300));
    Press(IDC_PROGRAM);
    headless::Advance(1010);
    EXPECT_TRUE(dlg->GetReplySeen());
    headless::Advance(990);  // the reply deadline finds the answer
    EXPECT_EQ(dlg->GetPortIndex(), 0);
    EXPECT_EQ(headless::NextEventTime(), std::nullopt) << "no further timer events";
}

// The machine answers 1.5 s after the request: after " connect fail... ",
// before the next step closes its port. The protocol still handles it.
TEST_F(DialogTest, LateAnswerIsStillHandledByTheProtocol) {
    for (MachineType type : {0, 1}) {
        if (type != 0) {
            SelectMachineType(type);
        }
        SimulatedDevice machine(type, {}, 300);
        machine.machine.turnaroundMs = 1500;
        memory::Line& line = machine.AttachTo("COM1");
        Load(Pattern(300), type == 0 ? "a.EUP" : "a.UPL");
        Press(IDC_PROGRAM);
        headless::Advance(2000);
        EXPECT_EQ(Status(), "COM1 connect fail... ");
        const std::size_t writes = line.Writes().size();
        headless::Advance(600);  // the answer arrives at 2.5 s
        if (type == 0) {
            EXPECT_EQ(dlg->GetCharState(), CharState::AwaitStart);  // "0": the length goes out
            ASSERT_EQ(line.Writes().size(), writes + 2);
        } else {
            EXPECT_EQ(dlg->GetBlockCounter(), 1u);
            EXPECT_EQ(dlg->GetSentBytes(), 128u);
            ASSERT_EQ(line.Writes().size(), writes + 1);
        }
        headless::Advance(500);  // 3 s: the next step closes COM1 and moves on
        EXPECT_FALSE(line.IsOpen());
        EXPECT_EQ(Status(), "COM2 open fail! ");
        headless::Advance(20000);
        memory::DetachAll();
    }
}

// Load File enables Program again, so it can be pressed mid-scan: the scan
// starts over at COM1, and a reply deadline still armed fires once more.
TEST_F(DialogTest, ProgramDuringAScanRestartsIt) {
    QuietDevice device;
    memory::AttachDevice("COM1", &device);
    Load(Bytes(300));
    Press(IDC_PROGRAM);
    headless::Advance(1500);  // COM1 open, deadline armed for 2 s
    EXPECT_EQ(Status(), "COM1 open success! ");
    Load(Bytes(300));
    Press(IDC_PROGRAM);  // scan step armed for 2.5 s
    EXPECT_EQ(dlg->GetPortIndex(), 0);
    headless::Advance(500);  // 2 s: the old deadline, no answer
    EXPECT_EQ(Status(), "COM1 connect fail... ");
    EXPECT_EQ(dlg->GetPortIndex(), 1);
    headless::Advance(500);  // 2.5 s: the step armed by Program was replaced
    EXPECT_EQ(Status(), "COM1 connect fail... ");
    headless::Advance(500);  // 3 s
    EXPECT_EQ(Status(), "COM2 open fail! ");
}
