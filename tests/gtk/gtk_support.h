// Shared fixture of the GTK tests: the main dialog in a real GTK window on a
// virtual display, the operator's actions through gtk_driver.h, and the
// target simulator on pseudo-terminals.
#pragma once

#include "framework/gtk/gtk_headers.h"  // first: see there

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/gtk/gtk_driver.h"
#include "tests/posix/posix_support.h"
#include "tests/test_data.h"
#include "tools/launch/posix/child_process.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

// Threads started by this program (the main thread and receive workers),
// as opposed to those GLib starts for itself, which carry names of their
// own. Open descriptors are counted as the POSIX tests count them.
int OwnThreadCount();

// target-sim on a pseudo-terminal of its own, started when a test is ready
// for it.
class TargetSim {
  public:
    // Starts it; returns the device path it serves, or "" (a test failure
    // has then been recorded).
    std::string Start(MachineType type, const std::vector<std::string>& extra = {},
                      const std::filesystem::path& expect = {});
    // Stops it. True when it received exactly the --expect image; `outcome`
    // gets the line it printed.
    bool Stop(std::string* outcome = nullptr);

  private:
    std::optional<SimProcess> m_sim;
};

class GtkDialogTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // What the operator sees, from the widgets.
    std::string Shown(int id) const { return gtkdrv::ShownText(*dlg, id); }
    std::string Status() const { return Shown(IDC_STATUS); }
    bool Sensitive(int id) const { return gtk_widget_get_sensitive(gtkdrv::ControlOf(*dlg, id)); }
    GtkWindow* Window() const { return gtkdrv::WindowOf(*dlg); }

    void Press(int id) { ASSERT_TRUE(gtkdrv::Click(*dlg, id)) << "control " << id << " disabled"; }

    std::filesystem::path WriteFile(const Bytes& contents, const std::string& name);
    // Load File, choosing path in the file chooser.
    void Load(const std::filesystem::path& path);
    // `image` in a file of `type` ("fw.EUP" or "fw.UPL"), stored as the
    // type's files are.
    std::filesystem::path WriteStored(MachineType type, const Bytes& image);
    // Runs a scan over a port that does not exist, so that the machine type
    // box opens, and chooses the type in it.
    void SelectMachineType(MachineType type);
    // Runs the loop until the status line shows text, at most timeoutMs.
    bool WaitStatus(const std::string& text, int timeoutMs);

    TempDir dir{"gtk-tests"};  // removed after TearDown
    CWinApp app;
    std::unique_ptr<CDownloadDlg> dlg;
};
