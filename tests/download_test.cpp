// Whole downloads against the simulated machine, and the two protocols'
// answers to each kind of reply.
#include "tests/test_support.h"

#include "image/stored_image.h"
#include "serial/out_frame.h"

namespace {

struct WholeCase {
    MachineType type;
    std::uint32_t size;
    const char* port;  // the machine's port; every port before it is absent
    SimFaults faults;
};

std::string CaseName(const ::testing::TestParamInfo<WholeCase>& info) {
    const WholeCase& c = info.param;
    std::string name = "type" + std::to_string(c.type) + "_" + std::to_string(c.size) + "_" +
                       (std::string(c.port) == "COM1" ? "first" : "later");
    if (c.faults.noise) {
        name += "_noise";
    }
    if (c.faults.repeatEvery) {
        name += "_repeats";
    }
    if (c.faults.splitReplies) {
        name += "_split";
    }
    return name;
}

void PrintTo(const WholeCase& c, std::ostream* os) {
    *os << "type " << int(c.type) << ", " << c.size << " bytes on " << c.port;
}

class WholeDownload : public DialogTest, public ::testing::WithParamInterface<WholeCase> {};

}  // namespace

TEST_P(WholeDownload, MachineReceivesExactlyTheImage) {
    const WholeCase c = GetParam();
    if (c.type != 0) {
        SelectMachineType(c.type);
    }
    SimulatedDevice machine(c.type, c.faults, c.size);
    machine.AttachTo(c.port);
    const Bytes image = Pattern(c.size, c.size + c.type);
    LoadStored(c.type, image);
    ExpectControls(true, false);

    Press(IDC_PROGRAM);
    ExpectControls(false, false);
    ASSERT_TRUE(RunUntilProgramEnabled(60000));
    ExpectControls(true, false);

    EXPECT_EQ(machine.machine.Received(), image);
    EXPECT_TRUE(machine.machine.Finished());
    EXPECT_EQ(Text(IDC_SEND_LENGTH), std::to_string(c.size));
    EXPECT_EQ(dlg->GetSentBytes(), c.size);
    EXPECT_EQ(Status(), ProgressText(100));
    EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETRANGE, FALSE), static_cast<LRESULT>(c.size >> 2));
    EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETPOS), static_cast<LRESULT>(c.size >> 2));
    EXPECT_EQ(dlg->GetRepeatedRequests(),
              static_cast<std::uint32_t>(machine.machine.RepeatsAsked()));
    if (c.faults.repeatEvery) {
        EXPECT_GT(machine.machine.RepeatsAsked(), 0);
    }

    // The worker has ended; the port stays open until the next Program.
    headless::Advance(5000);
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
    EXPECT_EQ(memory::OpenPortCount(), 1);
    EXPECT_EQ(headless::NextEventTime(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, WholeDownload,
    ::testing::Values(WholeCase{0, 300, "COM1", {}}, WholeCase{0, 20000, "\\\\.\\COM10", {}},
                      WholeCase{0, 1000, "COM4", SimFaults{.noise = true}},
                      WholeCase{1, 300, "COM1", {}}, WholeCase{1, 131072, "\\\\.\\COM10", {}},
                      WholeCase{1, 5000, "COM2",
                                SimFaults{.noise = true, .repeatEvery = 3, .splitReplies = true}},
                      WholeCase{2, 256, "COM1", {}}, WholeCase{2, 70000, "\\\\.\\COM16", {}}),
    CaseName);

// --- The character protocol, reply by reply. ------------------------------------

class CharProtocol : public DialogTest {
  protected:
    // Loads the image, presses Program, and lets COM1 open.
    void Start(const Bytes& image) {
        line = &memory::AttachDevice("COM1", &device);
        Load(image);
        Press(IDC_PROGRAM);
        headless::Advance(1000);
        ASSERT_EQ(Status(), "COM1 open success! ");
        ASSERT_EQ(line->Writes(), std::vector<Bytes>{{'0'}});
    }
    // The machine's reply, as one read; returns the host's writes it caused.
    std::vector<Bytes> Reply(const std::string& text) {
        const std::size_t before = line->Writes().size();
        line->Deliver(Bytes(text.begin(), text.end()));
        headless::RunUntilIdle();
        const auto all = line->Writes();
        return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }
    static Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
        return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                     b.begin() + static_cast<std::ptrdiff_t>(from + n));
    }

    QuietDevice device;
    memory::Line* line = nullptr;
};

TEST_F(CharProtocol, LengthGoesOutAsTwoSingleByteWrites) {
    Bytes image = Pattern(0x1234);
    Start(image);
    EXPECT_EQ(Reply("0"), (std::vector<Bytes>{{0x12}, {0x34}}));
    EXPECT_EQ(Reply("0"), (std::vector<Bytes>{{0x12}, {0x34}})) << "may be asked again";
    EXPECT_EQ(dlg->GetCharState(), CharState::AwaitStart);
}

TEST_F(CharProtocol, LengthIs16BitsOnTheWire) {
    Start(Pattern(131072));
    EXPECT_EQ(Reply("0"), (std::vector<Bytes>{{0x00}, {0x00}}));
}

TEST_F(CharProtocol, RepliesAreMatchedByFirstAndLastCharacter) {
    const Bytes image = Pattern(1000);
    Start(image);
    EXPECT_TRUE(Reply("9").empty()) << "matches nothing";
    EXPECT_EQ(Reply("1"), std::vector<Bytes>{Slice(image, 0, 128)});
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "128");
    EXPECT_EQ(Status(), "COM1 open success! ") << "no progress for the first block";
    EXPECT_TRUE(Reply("1").empty()) << "only in AwaitStart";
    EXPECT_TRUE(Reply("2").empty()) << "its last character is 2";
    EXPECT_EQ(Reply("2ab3"), std::vector<Bytes>{Slice(image, 128, 128)});
    EXPECT_EQ(Status(), ProgressText(25));
    EXPECT_EQ(Reply("23"), std::vector<Bytes>{Slice(image, 256, 128)});
    EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETRANGE, FALSE), 250);
    EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETPOS), 96);
    EXPECT_EQ(Reply("2xy4"), std::vector<Bytes>{{'6'}});
    EXPECT_EQ(dlg->GetCharState(), CharState::AwaitFinish);
    EXPECT_TRUE(Reply("2").empty());
    ExpectControls(false, false);
    EXPECT_TRUE(Reply("6").empty());
    EXPECT_EQ(dlg->GetCharState(), CharState::AwaitStart);
    ExpectControls(true, false);
    headless::RunUntilIdle();
    EXPECT_EQ(memory::LiveWorkerCount(), 0) << "the worker ends with the download";
}

TEST_F(CharProtocol, BlockSizesAtTheImageEnd) {
    struct Case {
        std::uint32_t size;
        std::vector<std::size_t> blocks;  // written per "23" after the first
        unsigned lastPercent;
    };
    const Case cases[] = {
        {300, {128, 44}, 100},  // 85 %, then the last 44 bytes
        {256, {128}, 100},      // the last full block by the second rule
        {128, {0}, 100},        // all out on "1"; a zero-length write follows
        {50, {0, 0}, 100},      // shorter than the first block: nothing more
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes image = Pattern(c.size, c.size);
        Start(image);
        ASSERT_EQ(Reply("1").at(0).size(), 128u);
        std::size_t sent = 128;
        for (std::size_t n : c.blocks) {
            const auto w = Reply("23");
            ASSERT_EQ(w.size(), 1u);
            ASSERT_EQ(w[0].size(), n);
            if (n) {
                EXPECT_EQ(w[0], Slice(image, sent, n));
            }
            sent += n;
        }
        EXPECT_EQ(Status(), ProgressText(c.lastPercent));
        Reply("24");
        Reply("6");
        ASSERT_TRUE(Enabled(IDC_PROGRAM));
    }
}

TEST_F(CharProtocol, EmptyImageNeverDividesByZero) {
    Start({});
    EXPECT_EQ(Reply("0"), (std::vector<Bytes>{{0x00}, {0x00}}));
    EXPECT_EQ(Reply("1").at(0).size(), 128u);
    EXPECT_EQ(Reply("23"), std::vector<Bytes>{Bytes{}});
    EXPECT_EQ(Status(), ProgressText(100));
}

// Program after a download broken off mid-way, wherever the exchange stood:
// the restarted machine's "0" and "1" are answered as at a first download.
TEST_F(CharProtocol, ProgramAfterABrokenOffDownloadStartsAfresh) {
    struct Case {
        const char* name;
        std::vector<std::string> replies;  // the exchange before the break
        CharState state;
    };
    const Case cases[] = {
        {"after the first block", {"0", "1"}, CharState::Sending},
        {"mid-way", {"0", "1", "23", "23"}, CharState::Sending},
        {"after all-received",
         {"1", "23", "23", "23", "23", "23", "23", "23", "24"},
         CharState::AwaitFinish},
    };
    const Bytes image = Pattern(1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start(image);
        for (const std::string& r : c.replies) {
            Reply(r);
        }
        ASSERT_EQ(dlg->GetCharState(), c.state);
        // The machine was reset; the operator loads and presses Program.
        Load(image);
        const std::size_t before = line->Writes().size();
        Press(IDC_PROGRAM);
        EXPECT_EQ(dlg->GetCharState(), CharState::AwaitStart);
        headless::Advance(1000);  // COM1 closed and opened again
        ASSERT_EQ(line->Writes().size(), before + 1);
        ASSERT_EQ(line->Writes().back(), Bytes{'0'}) << "the opening request again";
        EXPECT_EQ(Reply("0"), (std::vector<Bytes>{{0x03}, {0xE8}}));
        EXPECT_EQ(Reply("1"), std::vector<Bytes>{Slice(image, 0, 128)});
        EXPECT_EQ(Text(IDC_SEND_LENGTH), "128");
        EXPECT_EQ(Reply("23"), std::vector<Bytes>{Slice(image, 128, 128)});
        headless::Advance(1000);
        EXPECT_EQ(Status(), "Programming...    25% Done  ") << "answered, so no connect fail";
        // The next case's Program closes COM1 and opens it again.
    }
}

// A machine that restarts mid-download: the download stalls, and the next
// Program serves the restarted machine in full, with the bytes of an
// unbroken download.
TEST_F(DialogTest, RestartedMachineIsServedInFullByTheNextProgram) {
    for (MachineType type : {0, 1}) {
        SCOPED_TRACE(int(type));
        if (type != 0) {
            SelectMachineType(type);
        }
        const Bytes image = Pattern(1000, 40 + type);
        SimulatedDevice machine(type, SimFaults{.restartAfterBlock = 3});
        memory::Line& line = machine.AttachTo("COM2");
        const auto load = [&] { LoadStored(type, image); };
        load();
        Press(IDC_PROGRAM);
        EXPECT_FALSE(RunUntilProgramEnabled(30000)) << "the restarted machine waits";
        ASSERT_TRUE(machine.machine.Restarted());
        EXPECT_FALSE(machine.machine.Finished());

        load();
        Press(IDC_PROGRAM);
        headless::Advance(1000);  // COM1 fails
        const std::size_t before = line.Writes().size();
        ASSERT_TRUE(RunUntilProgramEnabled(30000));
        EXPECT_EQ(machine.machine.Received(), image);
        EXPECT_TRUE(machine.machine.Finished());
        EXPECT_EQ(dlg->GetSentBytes(), 1000u);
        EXPECT_EQ(Status(), "Programming...    100% Done  ");
        if (type == 0) {
            // The opening request, the length, the 128-byte first block, six
            // more, the last 104 bytes and the closing "6".
            std::vector<Bytes> expected{{'0'}, {0x03}, {0xE8}};
            for (std::size_t at = 0; at < 896; at += 128) {
                expected.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(at),
                                      image.begin() + static_cast<std::ptrdiff_t>(at + 128));
            }
            expected.emplace_back(image.begin() + 896, image.end());
            expected.push_back({'6'});
            const auto all = line.Writes();
            EXPECT_EQ(
                std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
                expected);
        }
        memory::DetachAll();
        headless::Advance(1000);
    }
}

// A shorter image loaded mid-download: nothing is read past either image.
TEST_F(CharProtocol, ShorterImageLoadedMidDownload) {
    Start(Pattern(1000));
    Reply("1");
    Reply("23");
    Reply("23");  // 384 sent
    const Bytes small = Pattern(100, 9);
    Load(small);
    EXPECT_EQ(Reply("23"), std::vector<Bytes>{Bytes{}});
    EXPECT_EQ(Status(), ProgressText(100));
}

// --- The block protocol, request by request. ------------------------------------

class BlockProtocol : public DialogTest {
  protected:
    void Start(const Bytes& image, MachineType type = 1) {
        SelectMachineType(type);
        line = &memory::AttachDevice("COM1", &device);
        LoadStored(type, image);
        Press(IDC_PROGRAM);
        headless::Advance(1000);
        ASSERT_EQ(Status(), "COM1 open success! ");
        ASSERT_EQ(line->Writes().size(), 1u);
        ASSERT_EQ(line->Writes()[0].size(), 14u);
    }
    // One inbound frame; returns the frames the host wrote for it.
    std::vector<Bytes> Frame(std::uint8_t cmd, std::uint8_t block) {
        const std::size_t before = line->Writes().size();
        line->Deliver({0x33, 0xBB, cmd, 0x00, block, 0x00});
        headless::RunUntilIdle();
        const auto all = line->Writes();
        return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }
    static Bytes BlockFrame(std::uint8_t number, const Bytes& image, std::size_t from,
                            std::size_t n) {
        OutRecord r;
        r.command = number;
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(from), n, r.payload.begin());
        OutFrame f;
        const std::size_t len = BuildFrame(r, f.data(), n);
        return Bytes(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(len));
    }

    QuietDevice device;
    memory::Line* line = nullptr;
};

TEST_F(BlockProtocol, RequestsRepeatsAndTheEnd) {
    const Bytes image = Pattern(300);
    Start(image);
    EXPECT_EQ(Frame(0x80, 0), std::vector<Bytes>{BlockFrame(0, image, 0, 128)});
    EXPECT_EQ(Status(), ProgressText(42));
    EXPECT_EQ(Frame(0x80, 1), std::vector<Bytes>{BlockFrame(1, image, 128, 128)});
    EXPECT_EQ(Frame(0x80, 1), std::vector<Bytes>{BlockFrame(1, image, 128, 128)}) << "repeat";
    EXPECT_EQ(dlg->GetBlockCounter(), 2u);
    EXPECT_EQ(Frame(0x42, 7), std::vector<Bytes>{}) << "other commands change nothing";
    ExpectControls(false, false);
    EXPECT_EQ(Frame(0x80, 2), std::vector<Bytes>{BlockFrame(2, image, 256, 44)});
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "300");
    EXPECT_EQ(Status(), ProgressText(100));
    ExpectControls(true, false);
    EXPECT_EQ(Frame(0x80, 3), std::vector<Bytes>{}) << "the worker has ended";
}

// The status line's text as it goes, literally: four blanks after the
// dots, the percentage without padding, two blanks at the end.
TEST_F(BlockProtocol, ProgressTextAsShown) {
    Start(Pattern(1000));
    const struct {
        std::uint8_t request;
        const char* shown;
    } steps[] = {
        {5, "Programming...    0% Done  "},  // before the image: an empty block
        {0, "Programming...    12% Done  "}, {1, "Programming...    25% Done  "},
        {1, "Programming...    25% Done  "},  // a repeat
        {2, "Programming...    38% Done  "}, {3, "Programming...    51% Done  "},
        {4, "Programming...    64% Done  "}, {5, "Programming...    76% Done  "},
        {6, "Programming...    89% Done  "}, {7, "Programming...    100% Done  "},
    };
    for (const auto& step : steps) {
        ASSERT_EQ(Frame(0x80, step.request).size(), 1u);
        EXPECT_EQ(Status(), step.shown) << "request " << int(step.request);
    }
}

TEST_F(BlockProtocol, ExactMultipleEndsWithTheLastFullBlock) {
    const Bytes image = Pattern(256);
    Start(image, 2);
    Frame(0x80, 0);
    ExpectControls(false, false);
    EXPECT_EQ(Frame(0x80, 1), std::vector<Bytes>{BlockFrame(1, image, 128, 128)});
    EXPECT_EQ(dlg->GetSentBytes(), 256u);
    EXPECT_EQ(Status(), ProgressText(100));
    ExpectControls(true, false);
}

TEST_F(BlockProtocol, StopFrameEndsTheDownloadButKeepsTheRest) {
    const Bytes image = Pattern(1000);
    Start(image);
    Frame(0x80, 0);
    Frame(0x80, 1);
    EXPECT_EQ(Frame(0x81, 2), std::vector<Bytes>{});
    ExpectControls(true, false);
    EXPECT_EQ(Status(), ProgressText(25));
    EXPECT_EQ(dlg->GetBlockCounter(), 2u);
    EXPECT_EQ(dlg->GetSentBytes(), 256u);
    headless::RunUntilIdle();
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}

// A first request not numbered 0 points before the image: it is answered
// with an empty block under the number asked for, and nothing moves.
TEST_F(BlockProtocol, FirstRequestNotNumberedZero) {
    const Bytes image = Pattern(1000);
    Start(image);
    EXPECT_EQ(Frame(0x80, 5), std::vector<Bytes>{BlockFrame(5, image, 0, 0)});
    EXPECT_EQ(dlg->GetBlockCounter(), 0u);
    EXPECT_EQ(dlg->GetSentBytes(), 0u);
    EXPECT_EQ(Frame(0x80, 0), std::vector<Bytes>{BlockFrame(0, image, 0, 128)});
}

TEST_F(BlockProtocol, NumbersWrapAfter64Blocks) {
    const Bytes image = Pattern(70 * 128);
    Start(image);
    for (std::uint32_t k = 0; k < 64; ++k) {
        ASSERT_EQ(Frame(0x80, static_cast<std::uint8_t>(k)).size(), 1u);
    }
    EXPECT_EQ(Frame(0x80, 64), std::vector<Bytes>{BlockFrame(64, image, 63 * 128, 128)})
        << "64 and above never advance";
    EXPECT_EQ(Frame(0x80, 0), std::vector<Bytes>{BlockFrame(0, image, 64 * 128, 128)});
    EXPECT_EQ(dlg->GetBlockCounter(), 65u);
}

TEST_F(BlockProtocol, ShorterImageLoadedMidDownload) {
    const Bytes image = Pattern(1000);
    Start(image);
    for (std::uint8_t k = 0; k < 4; ++k) {
        Frame(0x80, k);
    }
    const Bytes small = Pattern(300, 4);
    Load(StoredImage(1, small), "small.UPL");
    // Block 5 would start at 512, past the new end: an empty block, and the
    // download ends there.
    EXPECT_EQ(Frame(0x80, 4), std::vector<Bytes>{BlockFrame(4, small, 0, 0)});
    EXPECT_EQ(dlg->GetSentBytes(), 300u);
    EXPECT_EQ(Status(), ProgressText(100));
    ExpectControls(true, false);
}

TEST_F(BlockProtocol, EmptyImageEndsOnTheFirstRequest) {
    Start({});
    EXPECT_EQ(Frame(0x80, 0), std::vector<Bytes>{BlockFrame(0, {}, 0, 0)});
    EXPECT_EQ(Status(), ProgressText(100));
    ExpectControls(true, false);
}
