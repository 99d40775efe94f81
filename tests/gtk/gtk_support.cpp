// The shared fixture of the GTK tests.
#include "tests/gtk/gtk_support.h"

#include <cstdio>
#include <fstream>

#include "image/stored_image.h"
#include "serial/serial_port.h"

namespace {

std::string ReadFirstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

int OwnThreadCount() {
    const std::string self = ReadFirstLine("/proc/self/comm");
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (ReadFirstLine(task.path() / "comm") == self) {
            ++count;
        }
    }
    return count;
}

// --- TargetSim ----------------------------------------------------------------------

std::string TargetSim::Start(MachineType type, const std::vector<std::string>& extra,
                             const std::filesystem::path& expect) {
    std::vector<std::string> args = {"--type", std::to_string(type)};
    if (!expect.empty()) {
        args.insert(args.end(), {"--expect", expect.string()});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    m_sim.emplace(args);
    if (!m_sim->Started()) {
        ADD_FAILURE() << DT_TARGET_SIM_PATH << " did not start or did not name its port";
    }
    return m_sim->Path();
}

bool TargetSim::Stop(std::string* outcome) {
    const SimProcess::Outcome ended = m_sim ? m_sim->Stop() : SimProcess::Outcome{};
    if (outcome) {
        *outcome = ended.lastLine;
    }
    return ended.exitStatus == 0;
}

// --- GtkDialogTest -------------------------------------------------------------------

void GtkDialogTest::SetUp() {
    // No real device is ever tried: each test names the ports it scans.
    dlg = std::make_unique<CDownloadDlg>();
    dlg->SetPorts({(dir.path() / "no-such-port").string()});
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create());
    ASSERT_TRUE(gtkdrv::WaitMapped(*dlg));
}

void GtkDialogTest::TearDown() {
    dlg.reset();
    app.m_pMainWnd = nullptr;
    gtkdrv::Pump(10);
    for (const std::string& mishap : gtkdrv::Mishaps()) {
        ADD_FAILURE() << mishap;
    }
    EXPECT_EQ(gtkdrv::PendingModalHandlers(), 0u) << "a modal window expected did not open";
}

std::filesystem::path GtkDialogTest::WriteFile(const Bytes& contents, const std::string& name) {
    return dir.Write(name, contents);
}

std::filesystem::path GtkDialogTest::WriteStored(MachineType type, const Bytes& image) {
    return WriteFile(StoredImage(type, image), "fw" + StoredFileSuffix(type));
}

void GtkDialogTest::Load(const std::filesystem::path& path) {
    bool answered = false;
    gtkdrv::OnNextModal([&](CWnd*, GtkWindow* chooser) {
        answered = gtkdrv::AnswerFileChooser(chooser, path.string());
    });
    Press(IDC_LOAD_FILE);
    ASSERT_TRUE(answered) << "the file chooser did not take " << path;
}

void GtkDialogTest::SelectMachineType(MachineType type) {
    const std::vector<std::string> ports = dlg->GetPorts();
    dlg->SetPorts({(dir.path() / "unplugged").string()});
    ASSERT_NO_FATAL_FAILURE(Load(WriteFile(Bytes(10), "unlock.EUP")));
    Press(IDC_PROGRAM);
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return Sensitive(IDC_MACHINE_TYPE); }, 10000))
        << "the scan did not end";
    ASSERT_TRUE(gtkdrv::ChooseComboItem(*dlg, IDC_MACHINE_TYPE, type));
    ASSERT_EQ(dlg->GetMachineType(), type);
    dlg->SetPorts(ports);
}

bool GtkDialogTest::WaitStatus(const std::string& text, int timeoutMs) {
    return gtkdrv::PumpUntil([&] { return Status() == text; }, timeoutMs);
}
