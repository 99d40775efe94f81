// Shared fixture of the core tests: the main dialog on the headless
// framework, in-memory serial lines, and helpers that act as the operator.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "serial/memory/memory_line.h"
#include "tools/sim/memory_device.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

#include "tests/test_data.h"

// A device that answers nothing and records what the host wrote; tests play
// the machine's part by hand with Line::Deliver.
class QuietDevice : public memory::Peer {
  public:
    void OnHostBytes(memory::Line&, const std::uint8_t*, std::size_t) override {}
};

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // What the operator sees.
    std::string Status() const { return dlg->GetDlgItemText(IDC_STATUS); }
    std::string Text(int id) const { return dlg->GetDlgItemText(id); }
    bool Enabled(int id) const { return dlg->GetDlgItem(id)->IsWindowEnabled() != FALSE; }
    LRESULT Control(int id, UINT message, WPARAM w = 0) const {
        return dlg->GetDlgItem(id)->SendMessage(message, w, 0);
    }
    // Program and machine type box states; Load File and Exit always enabled.
    void ExpectControls(bool program, bool machineType) const;

    // Writes a file and loads it with Load File. Returns its path.
    std::filesystem::path WriteFile(const Bytes& contents, const std::string& name);
    void Load(const Bytes& contents, const std::string& name = "image.EUP");
    // Loads `image` from a file of `type`, stored as the type's files are.
    void LoadStored(MachineType type, const Bytes& image);
    // Runs a scan that finds nothing, so that the machine type box opens, and
    // selects the type.
    void SelectMachineType(MachineType type);

    void Press(int id) {
        ASSERT_TRUE(headless::Click(*dlg, id)) << "control " << id << " disabled";
    }
    // Advances the clock until Program is enabled again, at most `limitMs`.
    bool RunUntilProgramEnabled(std::uint64_t limitMs);

    TempDir dir{"core-tests"};  // removed after TearDown
    CWinApp app;
    std::unique_ptr<CDownloadDlg> dlg;
};
