// Whole downloads with the real window, the POSIX serial backend and the
// target simulator on pseudo-terminals.
#include <cstdlib>

#include "framework/gtk/gtk_backend.h"
#include "tests/gtk/gtk_support.h"

class DownloadTest : public GtkDialogTest {
  protected:
    // Presses Program and runs the loop until Program is enabled again,
    // recording each status text shown.
    std::vector<std::string> Program(int timeoutMs) {
        std::vector<std::string> shown;
        Press(IDC_PROGRAM);
        const bool ended = gtkdrv::PumpUntil(
            [&] {
                if (shown.empty() || shown.back() != Status()) {
                    shown.push_back(Status());
                }
                return Sensitive(IDC_PROGRAM);
            },
            timeoutMs);
        EXPECT_TRUE(ended) << "the download did not end; status: " << Status();
        return shown;
    }
};

class EachMachineType : public DownloadTest, public ::testing::WithParamInterface<int> {};

// The scan passes a device that is not there and a machine that stays
// silent, finds the machine, and the image arrives whole.
TEST_P(EachMachineType, DownloadsTheImageOverAPseudoTerminal) {
    const auto type = static_cast<MachineType>(GetParam());
    const Bytes image = Pattern(3000 + type * 517, type + 1);
    const auto expect = WriteFile(image, "expected.bin");
    TargetSim machine, silent;
    const std::string port = machine.Start(type, {}, expect);
    const std::string silentPort = silent.Start(type, {"--silent"});
    ASSERT_FALSE(port.empty());
    ASSERT_FALSE(silentPort.empty());
    const std::string missing = (dir.path() / "missing").string();

    if (type != 0) {
        ASSERT_NO_FATAL_FAILURE(SelectMachineType(type));
    }
    ASSERT_NO_FATAL_FAILURE(Load(WriteStored(type, image)));
    dlg->SetPorts({missing, silentPort, port});
    const int threadsBefore = OwnThreadCount();

    const std::vector<std::string> shown = Program(60000);

    // The scan's texts in order, then the progress up to 100 %.
    const std::vector<std::string> scan = {
        missing + kStatusOpenFail, silentPort + kStatusOpenSuccess, silentPort + kStatusConnectFail,
        port + kStatusOpenSuccess};
    auto at = shown.begin();
    for (const std::string& text : scan) {
        at = std::find(at, shown.end(), text);
        ASSERT_NE(at, shown.end()) << "never shown in order: " << text;
    }
    EXPECT_TRUE(std::all_of(at + 1, shown.end(), [](const std::string& s) {
        return s.starts_with("Programming...    ");
    }));
    EXPECT_EQ(Status(), ProgressText(100));
    EXPECT_EQ(Shown(IDC_SEND_LENGTH), std::to_string(image.size()));
    EXPECT_DOUBLE_EQ(
        gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(gtkdrv::ControlOf(*dlg, IDC_PROGRESS))),
        1.0);
    EXPECT_FALSE(Sensitive(IDC_MACHINE_TYPE));
    // The worker ends with the download; its port stays open meanwhile.
    EXPECT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() == threadsBefore; }, 5000))
        << OwnThreadCount() << " threads of ours, " << threadsBefore << " before";

    std::string outcome;
    EXPECT_TRUE(machine.Stop(&outcome)) << outcome;
    silent.Stop();
}

INSTANTIATE_TEST_SUITE_P(Download, EachMachineType, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Type" + std::to_string(info.param);
                         });

// The machine hangs up mid-download: the tool goes on, the worker ends, and
// after another Load File the next Program downloads to a fresh machine.
// (A framed machine: the character protocol would resume where the broken
// download stood, which a fresh machine does not.)
TEST_F(DownloadTest, MachineVanishingMidDownloadLeavesTheToolUsable) {
    const Bytes image = Pattern(6000, 9);
    const auto expect = WriteFile(image, "expected.bin");
    const auto file = WriteStored(1, image);
    ASSERT_NO_FATAL_FAILURE(SelectMachineType(1));
    TargetSim vanishing;
    dlg->SetPorts({vanishing.Start(1, {"--vanish-after", "10"}, expect)});
    ASSERT_NO_FATAL_FAILURE(Load(file));
    const int threadsBefore = OwnThreadCount();

    Press(IDC_PROGRAM);
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() > threadsBefore; }, 5000))
        << "no worker started";
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() == threadsBefore; }, 10000))
        << "the worker outlived its machine";
    EXPECT_TRUE(dlg->IsWindowAlive());
    EXPECT_TRUE(Status().starts_with("Programming...    ")) << Status();
    EXPECT_LT(dlg->GetSentBytes(), image.size());
    EXPECT_FALSE(Sensitive(IDC_PROGRAM));
    std::string outcome;
    EXPECT_FALSE(vanishing.Stop(&outcome)) << "a vanished machine had it all: " << outcome;

    TargetSim fresh;
    dlg->SetPorts({fresh.Start(1, {}, expect)});
    ASSERT_NO_FATAL_FAILURE(Load(file));
    Program(30000);
    EXPECT_EQ(Status(), ProgressText(100));
    EXPECT_TRUE(fresh.Stop(&outcome)) << outcome;
}

// Downloads in a row each leave things as they found them: no thread and
// no descriptor piles up.
TEST_F(DownloadTest, DownloadsInARowLeaveNothingBehind) {
    const Bytes image = Pattern(1500, 4);
    const auto expect = WriteFile(image, "expected.bin");
    TargetSim machine;
    dlg->SetPorts({machine.Start(0, {}, expect)});
    ASSERT_NO_FATAL_FAILURE(Load(WriteFile(image, "fw.EUP")));
    const int threads = OwnThreadCount();
    Program(30000);  // the first one opens what stays open between runs
    ASSERT_EQ(Status(), ProgressText(100));
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() == threads; }, 5000));
    const int fds = OpenDescriptorCount();

    for (int run = 0; run < 20; ++run) {
        Program(30000);
        ASSERT_EQ(Status(), ProgressText(100)) << "run " << run;
    }
    EXPECT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() == threads; }, 5000))
        << OwnThreadCount() << " threads of ours, " << threads << " before";
    EXPECT_EQ(OpenDescriptorCount(), fds);
    std::string outcome;
    EXPECT_TRUE(machine.Stop(&outcome)) << outcome;
}

// Exit ends the modal run mid-download; once the dialog is gone, so is its
// worker.
TEST_F(DownloadTest, ExitEndsTheProgramMidDownload) {
    const Bytes image = Pattern(60000, 5);
    TargetSim machine;
    const std::string port = machine.Start(0, {"--turnaround", "20"});
    const auto file = WriteFile(image, "fw.EUP");
    dlg->DestroyWindow();  // to be run modally instead
    const int threadsBefore = OwnThreadCount();

    int threadsMidway = 0;
    std::string statusMidway;
    gtkdrv::OnNextModal([&](CWnd*, GtkWindow*) {
        ASSERT_TRUE(gtkdrv::WaitMapped(*dlg));
        dlg->SetPorts({port});
        ASSERT_NO_FATAL_FAILURE(Load(file));
        Press(IDC_PROGRAM);
        ASSERT_TRUE(
            gtkdrv::PumpUntil([&] { return Status().starts_with("Programming..."); }, 10000));
        gtkdrv::Pump(200);
        statusMidway = Status();
        threadsMidway = OwnThreadCount();
        Press(IDC_EXIT);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_FALSE(dlg->IsWindowAlive());
    EXPECT_NE(statusMidway, ProgressText(100)) << "the download ended before Exit";
    EXPECT_EQ(threadsMidway, threadsBefore + 1);
    dlg.reset();
    // The worker has been joined; the kernel takes a moment more to drop
    // it from /proc/self/task.
    EXPECT_TRUE(gtkdrv::PumpUntil([&] { return OwnThreadCount() == threadsBefore; }, 2000))
        << OwnThreadCount() << " threads of ours, " << threadsBefore << " before";
    machine.Stop();
}

// A picture of the window mid-download, as the operator sees it, with the
// window manager's frame if there is one. With DT_SCREENSHOT set it is
// also kept there.
TEST_F(DownloadTest, ScreenshotMidDownload) {
    const Bytes image = Pattern(40000, 6);
    TargetSim machine;
    dlg->SetPorts({machine.Start(0, {"--turnaround", "25"})});
    ASSERT_NO_FATAL_FAILURE(Load(WriteFile(image, "fw.EUP")));
    Press(IDC_PROGRAM);
    ASSERT_TRUE(
        gtkdrv::PumpUntil([&] { return dlg->GetSentBytes() * 100 / image.size() >= 40; }, 30000));
    gtkdrv::Pump(50);  // drawn as it stands
    const auto path = dir.path() / "screenshot.png";
    ASSERT_TRUE(gtkdrv::SaveScreenshot(Window(), path.string()));

    GdkPixbuf* shot = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    ASSERT_NE(shot, nullptr);
    GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(Window()));
    GdkRectangle frame;
    gdk_window_get_frame_extents(w, &frame);
    EXPECT_EQ(gdk_pixbuf_get_width(shot), frame.width);
    EXPECT_EQ(gdk_pixbuf_get_height(shot), frame.height);
    EXPECT_GE(frame.width, gdk_window_get_width(w));
    g_object_unref(shot);
    if (const char* keep = std::getenv("DT_SCREENSHOT")) {
        std::filesystem::copy_file(path, keep, std::filesystem::copy_options::overwrite_existing);
    }
    machine.Stop();
}
