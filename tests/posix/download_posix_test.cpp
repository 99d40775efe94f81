// Whole downloads through the real main dialog, on the headless framework,
// over pseudo-terminals served by target-sim child processes.
//
// The headless clock is virtual while the line and the machine are real, so
// the clock is driven about as fast as real time: a millisecond at a time,
// with a real millisecond of sleep before each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "framework/headless/headless.h"
#include "image/stored_image.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"
#include "tests/posix/posix_support.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

namespace {

constexpr char kMissing[] = "/nonexistent/ttyX";

std::string Done100() {
    return "Programming...    100% Done  ";
}

class PosixDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Reset();
        dlg = std::make_unique<CDownloadDlg>();
        app.m_pMainWnd = dlg.get();
        dlg->Create();
        headless::OnControlChanged([this](CWnd& d, int id) {
            if (id == IDC_STATUS) {
                statuses.push_back(d.GetDlgItemText(IDC_STATUS));
            }
        });
    }

    void TearDown() override {
        headless::OnControlChanged(nullptr);
        if (dlg && dlg->IsWindowAlive()) {
            dlg->DestroyWindow();
        }
        dlg.reset();  // closes its port, ending the worker
        app.m_pMainWnd = nullptr;
        for (const auto& f : files) {
            std::filesystem::remove(f);
        }
    }

    std::string WriteFile(const Bytes& contents, const std::string& suffix) {
        const auto path = UniqueTempPath("posix_tests_" + std::to_string(files.size()), suffix);
        WriteBytes(path, contents);
        files.push_back(path);
        return path.string();
    }

    // The image as the machine type's files hold it.
    std::string WriteImageFile(MachineType type, const Bytes& image) {
        return WriteFile(StoredImage(type, image), StoredFileSuffix(type));
    }

    void Load(const std::string& path) {
        headless::ScriptFileDialog([path](const CFileDialog&) { return path; });
        ASSERT_TRUE(headless::Click(*dlg, IDC_LOAD_FILE));
    }

    bool Enabled(int id) const { return dlg->GetDlgItem(id)->IsWindowEnabled() != FALSE; }
    std::string Text(int id) const { return dlg->GetDlgItemText(id); }
    bool Saw(const std::string& status) const {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }

    // The machine type box opens only after a scan that found nothing; no
    // device is involved, so the clock may run ahead of real time.
    void SelectMachineType(MachineType type) {
        dlg->SetPorts({kMissing});
        Load(WriteFile(Bytes(16, 0), ".EUP"));
        ASSERT_TRUE(headless::Click(*dlg, IDC_PROGRAM));
        headless::Advance(3000);
        ASSERT_TRUE(Enabled(IDC_MACHINE_TYPE));
        ASSERT_TRUE(headless::SelectComboItem(*dlg, IDC_MACHINE_TYPE, type));
        statuses.clear();
    }

    // Drives the clock about as fast as real time until cond holds.
    bool RunUntil(const std::function<bool()>& cond, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
            headless::Advance(1);
        }
        return true;
    }
    bool RunUntilProgramEnabled() {
        return RunUntil([this] { return Enabled(IDC_PROGRAM); }, 40s);
    }

    // Program against `sim`, behind a device that does not exist and one that
    // never answers.
    void ProgramBehindADeadAndASilentPort(const SimProcess& sim) {
        dlg->SetPorts({kMissing, silent.Path(), sim.Path()});
        ASSERT_TRUE(headless::Click(*dlg, IDC_PROGRAM));
        ASSERT_TRUE(RunUntilProgramEnabled()) << "status: " << Text(IDC_STATUS);
        EXPECT_TRUE(Saw(std::string(kMissing) + kStatusOpenFail));
        EXPECT_TRUE(Saw(silent.Path() + kStatusConnectFail));
        EXPECT_TRUE(Saw(sim.Path() + kStatusOpenSuccess)) << LastOpenError();
    }

    CWinApp app;
    std::unique_ptr<CDownloadDlg> dlg;
    std::vector<std::string> statuses;
    std::vector<std::filesystem::path> files;
    PtyPair silent;  // opens, takes the opening request, never answers
};

struct DownloadCase {
    const char* name;
    MachineType type;
    std::size_t size;
    std::vector<std::string> faults;  // further target-sim options
};

void PrintTo(const DownloadCase& c, std::ostream* os) {
    *os << "type " << int{c.type} << ", " << c.size << " bytes";
    for (const std::string& f : c.faults) {
        *os << " " << f;
    }
}

std::string CaseName(const ::testing::TestParamInfo<DownloadCase>& info) {
    return info.param.name;
}

class WholeDownloadTest : public PosixDownloadTest,
                          public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(WholeDownloadTest, TheMachineReceivesTheImage) {
    const DownloadCase c = GetParam();
    const Bytes image = Pattern(c.size, c.type + 7);
    std::vector<std::string> args{"--type", std::to_string(c.type), "--expect",
                                  WriteFile(image, ".bin")};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    if (c.type != 0) {
        ASSERT_NO_FATAL_FAILURE(SelectMachineType(c.type));
    }
    ASSERT_NO_FATAL_FAILURE(Load(WriteImageFile(c.type, image)));

    ASSERT_NO_FATAL_FAILURE(ProgramBehindADeadAndASilentPort(sim));
    EXPECT_EQ(Text(IDC_SEND_LENGTH), std::to_string(c.size));
    EXPECT_EQ(Text(IDC_STATUS), Done100());
    EXPECT_FALSE(Enabled(IDC_MACHINE_TYPE));

    dlg->DestroyWindow();
    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_NE(outcome.lastLine.find("finished; matches the expected image"), std::string::npos)
        << outcome.lastLine;
    EXPECT_EQ(outcome.exitStatus, 0);
}

// 1000 bytes end on a short block; 1280 on a whole one, where the machine
// knows the length only from what it expects. The rough line: garbage before
// replies, frames cut after their first byte by a pause longer than the read
// interval (so one frame spans two reads), blocks asked for twice, and
// replies paced at the real line rate.
INSTANTIATE_TEST_SUITE_P(
    EachMachineType, WholeDownloadTest,
    ::testing::Values(DownloadCase{"type0", 0, 1000, {}}, DownloadCase{"type1", 1, 1000, {}},
                      DownloadCase{"type2_whole_blocks", 2, 1280, {}},
                      DownloadCase{"type0_rough_line", 0, 700, {"--noise", "--baud", "9600"}},
                      DownloadCase{
                          "type1_rough_line",
                          1,
                          1000,
                          {"--noise", "--split", "--repeat-every", "3", "--baud", "57600"}}),
    CaseName);

TEST_F(PosixDownloadTest, TheMachinesStopFrameEndsTheDownload) {
    const Bytes image = Pattern(1000);
    // Served under a name of our choosing, as a fixed port name would be.
    const std::string link = WriteFile({}, ".tty");
    std::filesystem::remove(link);
    SimProcess sim(
        {"--type", "1", "--stop-at", "3", "--link", link, "--expect", WriteFile(image, ".bin")});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.Path());
    ASSERT_NO_FATAL_FAILURE(SelectMachineType(1));
    ASSERT_NO_FATAL_FAILURE(Load(WriteImageFile(1, image)));

    dlg->SetPorts({kMissing, silent.Path(), link});
    ASSERT_TRUE(headless::Click(*dlg, IDC_PROGRAM));
    ASSERT_TRUE(RunUntilProgramEnabled()) << "status: " << Text(IDC_STATUS);
    EXPECT_TRUE(Saw(link + kStatusOpenSuccess));
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "384");

    dlg->DestroyWindow();
    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_NE(outcome.lastLine.find("384 bytes in 3 blocks, 0 repeats asked, stopped"),
              std::string::npos)
        << outcome.lastLine;
    EXPECT_EQ(outcome.exitStatus, 1);  // not the whole image
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(PosixDownloadTest, AMachineThatVanishesLeavesTheToolReadyForTheNext) {
    const Bytes image = Pattern(1000, 3);
    const std::string expectFile = WriteFile(image, ".bin");
    ASSERT_NO_FATAL_FAILURE(SelectMachineType(1));
    ASSERT_NO_FATAL_FAILURE(Load(WriteImageFile(1, image)));
    const int threads = ThreadCount();
    {
        SimProcess sim({"--type", "1", "--vanish-after", "3", "--expect", expectFile});
        ASSERT_TRUE(sim.Started());
        dlg->SetPorts({sim.Path()});
        ASSERT_TRUE(headless::Click(*dlg, IDC_PROGRAM));
        // The worker ends on the hang-up by itself: its thread goes away.
        ASSERT_TRUE(
            RunUntil([&] { return dlg->GetSentBytes() >= 384 && ThreadCount() == threads; }, 20s));
        const SimProcess::Outcome outcome = sim.Wait(5s);
        EXPECT_NE(outcome.lastLine.find("vanished"), std::string::npos) << outcome.lastLine;
        EXPECT_EQ(outcome.exitStatus, 1);
    }
    // The tool goes on, waiting as it would for a machine that went quiet.
    headless::Advance(5000);
    EXPECT_TRUE(dlg->IsWindowAlive());
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "384");

    // Load File opens Program again, and the next machine gets everything.
    SimProcess next({"--type", "1", "--expect", expectFile});
    ASSERT_TRUE(next.Started());
    ASSERT_NO_FATAL_FAILURE(Load(WriteImageFile(1, image)));
    dlg->SetPorts({next.Path()});
    ASSERT_TRUE(headless::Click(*dlg, IDC_PROGRAM));
    ASSERT_TRUE(RunUntilProgramEnabled()) << "status: " << Text(IDC_STATUS);
    EXPECT_EQ(Text(IDC_SEND_LENGTH), "1000");
    EXPECT_EQ(Text(IDC_STATUS), Done100());

    dlg->DestroyWindow();
    const SimProcess::Outcome outcome = next.Stop();
    EXPECT_NE(outcome.lastLine.find("matches the expected image"), std::string::npos)
        << outcome.lastLine;
}

// A worker blocked handing a message to the window, which is not taking
// it, is released by ClosePort; the message it held is freed, not leaked.
TEST_F(PosixDownloadTest, ClosePortEndsAWorkerBlockedInAHandOver) {
    PtyPair line;
    const PortHandle port = OpenPortByName(line.Path());
    ASSERT_NE(port, kInvalidPort) << LastOpenError();
    ConfigurePort(port, 0);
    auto* params = new WorkerParams;
    params->port = port;
    params->window = dlg.get();
    params->machineType = 0;
    const int threads = ThreadCount();
    ASSERT_NE(StartReceiveWorker(params), 0u);
    line.Send({'0'});
    std::this_thread::sleep_for(150ms);  // read, then blocked in the hand-over
    RunBounded(
        "ClosePort", [&] { ClosePort(port); }, 5s);
    // Joined threads can linger a moment in /proc/self/task.
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == threads; }, 2s))
        << ThreadCount() << " threads, " << threads << " before";
    headless::RunUntilIdle();  // nothing was left queued for the window
}

}  // namespace
