// The shared fixture of the core tests.
#include "tests/test_support.h"

#include <algorithm>
#include <cstdio>

#include "image/stored_image.h"

void DialogTest::SetUp() {
    headless::Reset();
    headless::ClearMessageBoxes();
    memory::DetachAll();
    dlg = std::make_unique<CDownloadDlg>();
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create());
}

void DialogTest::TearDown() {
    dlg.reset();
    app.m_pMainWnd = nullptr;
    EXPECT_EQ(memory::LiveWorkerCount(), 0) << "a receive worker outlived its dialog";
    EXPECT_EQ(memory::OpenPortCount(), 0) << "a port outlived its dialog";
    memory::DetachAll();
    headless::Reset();
}

void DialogTest::ExpectControls(bool program, bool machineType) const {
    EXPECT_EQ(Enabled(IDC_PROGRAM), program);
    EXPECT_EQ(Enabled(IDC_MACHINE_TYPE), machineType);
    EXPECT_TRUE(Enabled(IDC_LOAD_FILE));
    EXPECT_TRUE(Enabled(IDC_EXIT));
}

std::filesystem::path DialogTest::WriteFile(const Bytes& contents, const std::string& name) {
    return dir.Write(name, contents);
}

void DialogTest::Load(const Bytes& contents, const std::string& name) {
    const auto path = WriteFile(contents, name);
    headless::ScriptFileDialog([path](const CFileDialog&) { return path.string(); });
    Press(IDC_LOAD_FILE);
}

void DialogTest::LoadStored(MachineType type, const Bytes& image) {
    Load(StoredImage(type, image), "image" + StoredFileSuffix(type));
}

void DialogTest::SelectMachineType(MachineType type) {
    Load(Bytes(10), "unlock.EUP");
    Press(IDC_PROGRAM);
    // Take every device off the line while the scan runs.
    const std::vector<std::string> saved = dlg->GetPorts();
    dlg->SetPorts({"NOWHERE"});
    headless::Advance(2000);
    dlg->SetPorts(saved);
    ASSERT_TRUE(Enabled(IDC_MACHINE_TYPE));
    ASSERT_TRUE(headless::SelectComboItem(*dlg, IDC_MACHINE_TYPE, type));
    ASSERT_EQ(dlg->GetMachineType(), type);
}

bool DialogTest::RunUntilProgramEnabled(std::uint64_t limitMs) {
    const std::uint64_t end = headless::Now() + limitMs;
    while (!Enabled(IDC_PROGRAM) && headless::Now() < end) {
        headless::Advance(10);
    }
    return Enabled(IDC_PROGRAM);
}
