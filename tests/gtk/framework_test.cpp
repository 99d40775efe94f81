// The GTK backend's timers, hand-overs and modal loops, on a small probe
// dialog that counts what reaches it; a window created hidden; large
// statics; password fields; the message box's answers.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"
#include "framework/handover.h"
#include "framework/handover_queue.h"
#include "tests/gtk/gtk_support.h"
#include "ui/resource.h"

namespace {

constexpr UINT WM_PROBE = WM_USER + 1;

class ProbeDlg : public CDialog {
  public:
    ProbeDlg() : CDialog(IDD_ABOUTBOX) {}

    std::map<UINT_PTR, int> ticks;
    std::vector<WPARAM> received;
    std::vector<std::thread::id> handlerThreads;
    std::function<void(UINT_PTR)> onTimer;
    std::function<void()> onProbe;

    void OnTimer(UINT_PTR id) {
        ++ticks[id];
        if (onTimer) {
            onTimer(id);
        }
    }
    LRESULT OnProbe(WPARAM wParam, LPARAM) {
        received.push_back(wParam);
        handlerThreads.push_back(std::this_thread::get_id());
        if (onProbe) {
            onProbe();
        }
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDlg, CDialog)
ON_WM_TIMER()
ON_MESSAGE(WM_PROBE, OnProbe)
END_MESSAGE_MAP()

class FrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(probe.Create()); }
    void TearDown() override {
        probe.DestroyWindow();
        for (const std::string& mishap : gtkdrv::Mishaps()) {
            ADD_FAILURE() << mishap;
        }
    }
    CWinApp app;
    ProbeDlg probe;
};

}  // namespace

TEST_F(FrameworkTest, TimersRepeatUntilKilled) {
    probe.SetTimer(1, 10);
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return probe.ticks[1] >= 3; }, 5000));
    EXPECT_TRUE(probe.KillTimer(1));
    const int seen = probe.ticks[1];
    gtkdrv::Pump(100);
    EXPECT_EQ(probe.ticks[1], seen);
    EXPECT_FALSE(probe.KillTimer(1)) << "killed twice";

    // A handler that kills its own timer makes it one-shot.
    probe.onTimer = [&](UINT_PTR id) { probe.KillTimer(id); };
    probe.SetTimer(3, 10);
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return probe.ticks[3] >= 1; }, 5000));
    gtkdrv::Pump(100);
    EXPECT_EQ(probe.ticks[3], 1);
}

TEST_F(FrameworkTest, ArmingAnArmedTimerReplacesIt) {
    probe.SetTimer(2, 600000);
    probe.SetTimer(2, 10);
    EXPECT_TRUE(gtkdrv::PumpUntil([&] { return probe.ticks[2] >= 2; }, 5000))
        << "the first arming still stands";
    probe.KillTimer(2);
}

TEST_F(FrameworkTest, DestroyedWindowGetsNoMoreTimers) {
    probe.SetTimer(4, 10);
    probe.DestroyWindow();
    gtkdrv::Pump(100);
    EXPECT_EQ(probe.ticks[4], 0);
    EXPECT_EQ(probe.SetTimer(5, 10), 0u) << "a destroyed window took a timer";
}

TEST_F(FrameworkTest, HandOversRunInOrderOnTheWindowsThread) {
    constexpr int kCount = 50;
    CHandOver handOver;
    std::atomic<int> delivered{0};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            if (handOver.Send(&probe, WM_PROBE, static_cast<WPARAM>(i), 0)) {
                ++delivered;
            }
        }
    });
    const bool all = gtkdrv::PumpUntil([&] { return delivered.load() == kCount; }, 10000);
    handOver.Revoke();  // lets a worker still waiting go, should the test fail
    worker.join();
    ASSERT_TRUE(all);
    std::vector<WPARAM> expected(kCount);
    for (int i = 0; i < kCount; ++i) {
        expected[static_cast<std::size_t>(i)] = static_cast<WPARAM>(i);
    }
    EXPECT_EQ(probe.received, expected);
    for (const std::thread::id& id : probe.handlerThreads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

// A hand-over waiting when a timer falls due is handled first, as a message
// sent from another thread comes before WM_TIMER on Windows.
TEST_F(FrameworkTest, HandOverComesBeforeATimerDueAtTheSameMoment) {
    std::vector<std::string> order;
    probe.onTimer = [&](UINT_PTR id) {
        order.emplace_back("timer");
        probe.KillTimer(id);
    };
    probe.onProbe = [&] { order.emplace_back("hand-over"); };
    for (int round = 0; round < 5; ++round) {
        order.clear();
        CHandOver handOver;
        // Armed anew each round: the newest source of the main context.
        probe.SetTimer(6, 1);
        const auto armed = std::chrono::steady_clock::now();
        std::thread worker([&] { handOver.Send(&probe, WM_PROBE, 0, 0); });
        // The loop does not run meanwhile: wait until the hand-over is
        // queued and the timer's millisecond has passed, so that on the
        // loop's next pass both are due.
        const auto limit = armed + std::chrono::seconds(5);
        while ((!TheHandOverQueue().AnyWaitingNow() ||
                std::chrono::steady_clock::now() < armed + std::chrono::milliseconds(2)) &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        ASSERT_TRUE(TheHandOverQueue().AnyWaitingNow()) << "the hand-over was never queued";
        const bool both = gtkdrv::PumpUntil([&] { return order.size() == 2; }, 5000);
        handOver.Revoke();
        worker.join();
        ASSERT_TRUE(both);
        EXPECT_EQ(order, (std::vector<std::string>{"hand-over", "timer"})) << "round " << round;
    }
}

// Whether the worker is already waiting or has not sent yet, a revoked or
// destroyed target makes its Send fail, and no handler runs.
TEST_F(FrameworkTest, RevokedOrDestroyedTargetRefusesHandOvers) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "window destroyed" : "hand-over revoked");
        if (!probe.IsWindowAlive()) {
            ASSERT_TRUE(probe.Create());
        }
        probe.received.clear();
        CHandOver handOver;
        std::atomic<int> result{-1};
        std::thread worker([&] { result = handOver.Send(&probe, WM_PROBE, 7, 0) ? 1 : 0; });
        // Not running the loop: the message, if sent, waits.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (destroy) {
            probe.DestroyWindow();
        } else {
            handOver.Revoke();
            EXPECT_TRUE(handOver.Revoked());
        }
        worker.join();
        EXPECT_EQ(result.load(), 0);
        gtkdrv::Pump(30);
        EXPECT_TRUE(probe.received.empty());
        // And every later Send fails at once.
        EXPECT_FALSE(handOver.Send(&probe, WM_PROBE, 8, 0));
    }
}

// A revoke from within the handler of the message being handled: that
// message counts as handled, later ones are refused.
TEST_F(FrameworkTest, RevokeDuringTheHandlerLetsThatMessageThrough) {
    CHandOver handOver;
    probe.onProbe = [&] { handOver.Revoke(); };
    std::atomic<int> first{-1}, second{-1};
    std::thread worker([&] {
        first = handOver.Send(&probe, WM_PROBE, 1, 0) ? 1 : 0;
        second = handOver.Send(&probe, WM_PROBE, 2, 0) ? 1 : 0;
    });
    gtkdrv::PumpUntil([&] { return second.load() != -1; }, 5000);
    handOver.Revoke();
    worker.join();
    EXPECT_EQ(first.load(), 1);
    EXPECT_EQ(second.load(), 0);
    EXPECT_EQ(probe.received, std::vector<WPARAM>{1});
}

// Under a modal dialog the owner is disabled, and its timers and
// hand-overs go on being handled.
TEST_F(FrameworkTest, ModalLoopKeepsTheOwnersWorkGoing) {
    app.m_pMainWnd = &probe;
    CHandOver handOver;
    std::atomic<bool> sent{false};
    std::thread worker;
    bool ownerEnabled = true;
    int ticksMeanwhile = 0;
    std::size_t receivedMeanwhile = 0;
    ProbeDlg modal;
    gtkdrv::OnNextModal([&](CWnd* dialog, GtkWindow*) {
        EXPECT_EQ(dialog, &modal);
        ownerEnabled = probe.IsWindowEnabled() != FALSE;
        probe.SetTimer(1, 10);
        worker = std::thread([&] { sent = handOver.Send(&probe, WM_PROBE, 9, 0); });
        gtkdrv::PumpUntil([&] { return probe.ticks[1] >= 2 && sent.load(); }, 5000);
        ticksMeanwhile = probe.ticks[1];
        receivedMeanwhile = probe.received.size();
        probe.KillTimer(1);
        modal.EndDialog(IDOK);
    });
    EXPECT_EQ(modal.DoModal(), IDOK);
    handOver.Revoke();
    worker.join();
    app.m_pMainWnd = nullptr;
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(probe.IsWindowEnabled());
    EXPECT_GE(ticksMeanwhile, 2);
    EXPECT_EQ(receivedMeanwhile, 1u);
    EXPECT_FALSE(modal.IsWindowAlive());
}

// A window created hidden is never shown, and its timers run as a shown
// window's do.
TEST_F(FrameworkTest, HiddenWindowIsNeverShownButItsTimersRun) {
    ProbeDlg hidden;
    ASSERT_TRUE(hidden.Create(FALSE));
    ASSERT_TRUE(hidden.IsWindowAlive());
    hidden.SetTimer(1, 10);
    EXPECT_TRUE(gtkdrv::PumpUntil([&] { return hidden.ticks[1] >= 2; }, 5000));
    EXPECT_FALSE(hidden.IsWindowVisible());
    EXPECT_FALSE(gtk_widget_get_mapped(gtk::WidgetOf(hidden)));
    hidden.DestroyWindow();
}

namespace {

// The font a label's text is drawn in: that of its first run.
PangoFontDescription* FontOf(GtkWidget* label) {
    PangoLayoutLine* line =
        pango_layout_get_line_readonly(gtk_label_get_layout(GTK_LABEL(label)), 0);
    if (line == nullptr || line->runs == nullptr) {
        return nullptr;
    }
    return pango_font_describe(static_cast<PangoGlyphItem*>(line->runs->data)->item->analysis.font);
}

int PixelHeight(GtkWidget* label) {
    int height = 0;
    pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), nullptr, &height);
    return height;
}

}  // namespace

// A large static draws its text in the dialog font, three times as high and
// bold, new texts too; a centred one centres it in its box.
TEST_F(FrameworkTest, LargeStaticDrawsItsTextLargeAndBold) {
    const DialogTemplate* t = AfxFindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(t, nullptr);
    const gtk::BaseUnits units = gtk::DialogBaseUnits(t->fontFace, t->fontPointSize);
    ControlTemplate ordinary{ControlKind::Static, 1, "PASS", 0, 0, 100, 8};
    ControlTemplate large{ControlKind::Static, 2, "PASS", 0, 10, 100, 40};
    large.large = large.center = true;

    // Made as the dialog makes its controls, in the probe's window.
    std::vector<std::unique_ptr<CWnd>> controls;
    std::vector<GtkWidget*> labels;
    for (const ControlTemplate* ct : {&ordinary, &large}) {
        controls.push_back(MakeDrawnControl(&probe, *ct));
        GtkWidget* label = gtk::MakeControl(*ct, controls.back().get(), units);
        gtk_fixed_put(GTK_FIXED(probe.Impl()->fixed), label, units.X(ct->x), units.Y(ct->y));
        gtk_widget_show(label);
        labels.push_back(label);
    }
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(labels[0])), 0.0f);
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(labels[1])), 0.5f);

    for (const char* text : {"PASS", "FAIL 12"}) {
        SCOPED_TRACE(text);
        controls[0]->SetWindowText(text);
        controls[1]->SetWindowText(text);
        ASSERT_EQ(gtk_label_get_text(GTK_LABEL(labels[1])), std::string(text));
        PangoFontDescription* small = FontOf(labels[0]);
        PangoFontDescription* big = FontOf(labels[1]);
        ASSERT_NE(small, nullptr);
        ASSERT_NE(big, nullptr);
        EXPECT_STREQ(pango_font_description_get_family(big),
                     pango_font_description_get_family(small));
        EXPECT_NEAR(pango_font_description_get_size(big),
                    3 * pango_font_description_get_size(small), PANGO_SCALE / 2);
        EXPECT_EQ(pango_font_description_get_weight(big), PANGO_WEIGHT_BOLD);
        EXPECT_EQ(pango_font_description_get_weight(small), PANGO_WEIGHT_NORMAL);
        EXPECT_GT(PixelHeight(labels[1]), 2 * PixelHeight(labels[0]));
        pango_font_description_free(small);
        pango_font_description_free(big);
    }
    for (GtkWidget* label : labels) {
        gtk_container_remove(GTK_CONTAINER(probe.Impl()->fixed), label);
    }
}

// A password field shows marks for what is typed, and still gives its text
// to the code; an ordinary field shows its text.
TEST_F(FrameworkTest, APasswordFieldShowsMarksNotItsText) {
    const DialogTemplate* t = AfxFindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(t, nullptr);
    const gtk::BaseUnits units = gtk::DialogBaseUnits(t->fontFace, t->fontPointSize);
    ControlTemplate ordinary{ControlKind::Edit, 1, "", 0, 0, 100, 14};
    ControlTemplate password{ControlKind::Edit, 2, "", 0, 20, 100, 14};
    password.password = true;
    std::vector<std::unique_ptr<CWnd>> controls;
    std::vector<GtkWidget*> entries;
    for (const ControlTemplate* ct : {&ordinary, &password}) {
        controls.push_back(MakeDrawnControl(&probe, *ct));
        GtkWidget* entry = gtk::MakeControl(*ct, controls.back().get(), units);
        gtk_fixed_put(GTK_FIXED(probe.Impl()->fixed), entry, units.X(ct->x), units.Y(ct->y));
        gtk_widget_show(entry);
        entries.push_back(entry);
    }
    EXPECT_TRUE(gtk_entry_get_visibility(GTK_ENTRY(entries[0])));
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(entries[1])));
    EXPECT_EQ(gtk_entry_get_input_purpose(GTK_ENTRY(entries[1])), GTK_INPUT_PURPOSE_PASSWORD);
    gtk_entry_set_text(GTK_ENTRY(entries[1]), "Sup3r-Secret");  // as if typed
    EXPECT_EQ(controls[1]->GetWindowText(), "Sup3r-Secret");
    for (GtkWidget* entry : entries) {
        gtk_container_remove(GTK_CONTAINER(probe.Impl()->fixed), entry);
    }
}

// The message box with buttons and a sign returns the answer; a yes/no box
// closed without one is No.
TEST_F(FrameworkTest, MessageBoxReturnsTheAnswer) {
    struct Case {
        UINT type;
        GtkMessageType sign;
        bool yesNo;
        int response;  // what the operator does
        int expected;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONWARNING, GTK_MESSAGE_WARNING, true, GTK_RESPONSE_YES, IDYES},
        {MB_YESNO | MB_ICONWARNING, GTK_MESSAGE_WARNING, true, GTK_RESPONSE_NO, IDNO},
        {MB_YESNO | MB_ICONERROR, GTK_MESSAGE_ERROR, true, GTK_RESPONSE_DELETE_EVENT, IDNO},
        {MB_OK | MB_ICONERROR, GTK_MESSAGE_ERROR, false, GTK_RESPONSE_OK, IDOK},
        {MB_OK | MB_ICONWARNING, GTK_MESSAGE_WARNING, false, GTK_RESPONSE_DELETE_EVENT, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", response " << c.response);
        GtkMessageType sign = GTK_MESSAGE_OTHER;
        bool yes = false, no = false, ok = false;
        std::string text;
        gtkdrv::OnNextModal([&](CWnd*, GtkWindow* box) {
            ASSERT_TRUE(GTK_IS_MESSAGE_DIALOG(box));
            g_object_get(box, "message-type", &sign, nullptr);
            GtkDialog* dialog = GTK_DIALOG(box);
            yes = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_YES) != nullptr;
            no = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_NO) != nullptr;
            ok = gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_OK) != nullptr;
            text = gtkdrv::MessageBoxText(box);
            gtkdrv::RespondToDialog(box, c.response);
        });
        EXPECT_EQ(AfxMessageBox("Replace the file?", c.type), c.expected);
        EXPECT_EQ(text, "Replace the file?");
        EXPECT_EQ(sign, c.sign);
        EXPECT_EQ(yes, c.yesNo);
        EXPECT_EQ(no, c.yesNo);
        EXPECT_EQ(ok, !c.yesNo);
    }
}
