// The Windows build driving its real dialog: run under Wine by
// tests/win32/run_under_wine.sh, which serves COM ports from pseudo-terminals
// with target-sim behind them:
//   COM2  a machine that never answers      COM3  machine type 0
//   COM4  machine type 1                    \\.\COM10  machine type 2
//   COM5  machine type 1 that vanishes after 2 blocks
//   COM6  machine type 0, for a download that is broken off
//   COM7  machine type 1 that holds the line (flow control) once it has
//         read the first bytes of a session, until the port is closed
//   COM8  a machine that never answers, for the one test that leaves its
//         port open for the rest of the run
//   COM21 to COM24  the station window's four positions (station_test.cpp),
//         named so in its station file: three machines of type 1, and one
//         of type 1 that stops the download with the stop frame at block 25
//   \\.\COM15, \\.\COM16  the two positions of the station set up in a
//         folder named in Cyrillic (station_test.cpp), machines of type 1
//   COM25, COM26  a station's two positions (station_test.cpp): a machine of
//         type 1 paced at 9600 baud, and one that holds the line after two
//         blocks
// and no COM9 at all (Wine maps COM1 to the host's first serial port). Before starting them the
// script runs this program with
// --write-images DIR to make the images the machines expect.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/handover.h"
#include "framework/win32/window_impl.h"
#include "framework/window_thread.h"
#include "image/stored_image.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"
#include "serial/win32/line_errors.h"
#include "tests/test_data.h"
#include "tests/win32/win32_support.h"
#include "ui/download_dlg.h"

namespace {

const std::uint32_t kSizes[3] = {3000, 5000, 4000};

Bytes Image(MachineType type) {
    Bytes b(kSizes[type]);
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>((i * 31 + type * 7) ^ (i >> 8));
    }
    return b;
}

void WriteImages(const std::string& dir) {
    for (MachineType t = 0; t < 3; ++t) {
        const Bytes raw = Image(t);
        WriteBytes(dir + "\\image" + std::to_string(t) + ".bin", raw);
        WriteStoredImage(dir + "\\image" + std::to_string(t) + StoredFileSuffix(t), t, raw);
    }
}

class Win32Dialog : public ::testing::Test {
  protected:
    void SetUp() override {
        dlg = std::make_unique<CDownloadDlg>();
        app.m_pMainWnd = dlg.get();
        ASSERT_TRUE(dlg->Create());
        Pump(100);
    }
    void TearDown() override {
        dlg.reset();
        app.m_pMainWnd = nullptr;
        Pump(50);
    }

    HWND Hwnd(int id) const { return dlg->GetDlgItem(id)->Impl()->hwnd; }
    std::string Text(int id) const {
        char text[256] = {};
        GetWindowTextA(Hwnd(id), text, sizeof text);
        return text;
    }
    bool Enabled(int id) const { return IsWindowEnabled(Hwnd(id)) != FALSE; }
    void Click(int id) {
        ASSERT_TRUE(Enabled(id)) << "control " << id;
        SendMessageA(Hwnd(id), BM_CLICK, 0, 0);
    }
    // Load File through the real open-file dialog.
    void Load(const std::string& path) {
        ChooseInFileDialog("Open", path);
        Click(IDC_LOAD_FILE);
        Pump(200);
    }
    void SelectType(MachineType type) {
        const std::vector<std::string> ports = dlg->GetPorts();
        dlg->SetPorts({"COM9"});
        Load(StoredFile(0));
        Click(IDC_PROGRAM);
        ASSERT_TRUE(Pump(10000, [&] { return Enabled(IDC_MACHINE_TYPE); }));
        dlg->SetPorts(ports);
        SendMessageA(Hwnd(IDC_MACHINE_TYPE), CB_SETCURSEL, type, 0);
        SendMessageA(dlg->Impl()->hwnd, WM_COMMAND, MAKEWPARAM(IDC_MACHINE_TYPE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Hwnd(IDC_MACHINE_TYPE)));
        ASSERT_EQ(dlg->GetMachineType(), type);
    }
    void Download(MachineType type, std::vector<std::string> ports) {
        if (type != 0) {
            SelectType(type);
        }
        dlg->SetPorts(std::move(ports));
        Load(StoredFile(type));
        ASSERT_EQ(Text(IDC_LENGTH), std::to_string(kSizes[type]));
        Click(IDC_PROGRAM);
        ASSERT_TRUE(Pump(60000, [&] { return Enabled(IDC_PROGRAM); })) << Text(IDC_STATUS);
        EXPECT_EQ(Text(IDC_SEND_LENGTH), std::to_string(kSizes[type]));
        EXPECT_EQ(Text(IDC_STATUS), "Programming...    100% Done  ");
        EXPECT_FALSE(Enabled(IDC_MACHINE_TYPE));
    }

    CWinApp app;
    std::unique_ptr<CDownloadDlg> dlg;
};

TEST_F(Win32Dialog, StartStatesAndTexts) {
    char caption[128] = {};
    GetWindowTextA(dlg->Impl()->hwnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "Lorvane 300 Download tool Ver1.0[2009.06.24]");
    EXPECT_EQ(SendMessageA(Hwnd(IDC_MACHINE_TYPE), CB_GETCOUNT, 0, 0), 3);
    for (const ControlAtStart& c : kControlsAtStart) {
        EXPECT_EQ(Text(c.id), c.text) << "control " << c.id;
        EXPECT_EQ(Enabled(c.id), c.enabled) << "control " << c.id;
    }
    EXPECT_FALSE(IsWindowVisible(Hwnd(IDC_PROGRESS)));
    HMENU menu = GetSystemMenu(dlg->Impl()->hwnd, FALSE);
    char item[128] = {};
    GetMenuStringA(menu, IDM_ABOUTBOX, item, sizeof item, MF_BYCOMMAND);
    EXPECT_STREQ(item, "About Quenta 5X Download tool Ver1.0(&A)...");
}

TEST_F(Win32Dialog, SystemMenuOpensTheAboutBox) {
    bool seen = false, ownerDisabled = false;
    WhenWindowAppears("About Lorvane 300  Upload Tools", [&](HWND about) {
        seen = true;
        ownerDisabled = !IsWindowEnabled(dlg->Impl()->hwnd);
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    PostMessageA(dlg->Impl()->hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    Pump(3000, [&] { return seen && IsWindowEnabled(dlg->Impl()->hwnd); });
    EXPECT_TRUE(seen);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(dlg->Impl()->hwnd));
}

TEST_F(Win32Dialog, ScanReportsMissingAndSilentPorts) {
    dlg->SetPorts({"COM9", "COM2"});
    Load(StoredFile(0));
    Click(IDC_PROGRAM);
    EXPECT_TRUE(Pump(3000, [&] { return Text(IDC_STATUS) == "COM9 open fail! "; }));
    EXPECT_TRUE(Pump(3000, [&] { return Text(IDC_STATUS) == "COM2 open success! "; }));
    EXPECT_TRUE(Pump(3000, [&] { return Text(IDC_STATUS) == "COM2 connect fail... "; }));
    EXPECT_TRUE(Pump(3000, [&] { return Enabled(IDC_PROGRAM) && Enabled(IDC_MACHINE_TYPE); }));
}

TEST_F(Win32Dialog, WholeDownloadType0) {
    Download(0, {"COM9", "COM2", "COM3"});
}
TEST_F(Win32Dialog, WholeDownloadType1) {
    Download(1, {"COM4"});
}
TEST_F(Win32Dialog, WholeDownloadType2OnCom10) {
    Download(2, {"COM9", "\\\\.\\COM10"});
}

TEST_F(Win32Dialog, VanishingMachineLeavesTheToolUsable) {
    SelectType(1);
    dlg->SetPorts({"COM5"});
    Load(StoredFile(1));
    Click(IDC_PROGRAM);
    EXPECT_TRUE(Pump(5000, [&] { return Text(IDC_SEND_LENGTH) == "256"; }));
    // The failed read is no line error: the worker ends, the port is lost.
    EXPECT_TRUE(Pump(3000, [&] { return PortIsLost(dlg->GetPort()); }));
    EXPECT_FALSE(Enabled(IDC_PROGRAM));  // no timeout inside the exchange
    // Load File makes Program available again; the machine on COM4 answers.
    dlg->SetPorts({"COM5", "COM4"});
    Load(StoredFile(1));
    Click(IDC_PROGRAM);
    EXPECT_TRUE(Pump(60000, [&] { return Enabled(IDC_PROGRAM); }));
    EXPECT_EQ(Text(IDC_STATUS), "Programming...    100% Done  ");
}

TEST_F(Win32Dialog, ExitEndsTheDialogMidDownload) {
    dlg->SetPorts({"COM6"});
    Load(StoredFile(0));
    Click(IDC_PROGRAM);
    ASSERT_TRUE(Pump(5000, [&] { return Text(IDC_SEND_LENGTH) != "0"; }));
    // Our own handle to the worker's thread, to see it end; the port's
    // handle is the tool's own, valid while the port is open.
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(dlg->GetWorker()),
                                GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE, 0));
    const auto port = reinterpret_cast<HANDLE>(dlg->GetPort());
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(port, &flags)) << "the port is open";
    EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "it reads";

    Click(IDC_EXIT);
    EXPECT_FALSE(dlg->IsWindowAlive());
    dlg.reset();  // ends the worker and closes the port
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0) << "the worker outlived the dialog";
    EXPECT_FALSE(GetHandleInformation(port, &flags)) << "the port outlived the dialog";
    CloseHandle(worker);
}

// The port's line settings after the tool has used and closed it are
// those it had before.
TEST_F(Win32Dialog, PortIsLeftAsItWasFound) {
    auto state = [](DCB* dcb) {
        HANDLE h = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        dcb->DCBlength = sizeof *dcb;
        EXPECT_TRUE(GetCommState(h, dcb));
        CloseHandle(h);
    };
    auto apply = [](const DCB& dcb) {
        HANDLE h = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DCB copy = dcb;
        EXPECT_TRUE(SetCommState(h, &copy));
        CloseHandle(h);
    };
    DCB original{};
    ASSERT_NO_FATAL_FAILURE(state(&original));
    DCB preset = original;
    preset.BaudRate = 1200;
    preset.ByteSize = 7;
    preset.Parity = EVENPARITY;
    preset.StopBits = TWOSTOPBITS;
    ASSERT_NO_FATAL_FAILURE(apply(preset));
    DCB before{};
    ASSERT_NO_FATAL_FAILURE(state(&before));
    ASSERT_EQ(before.BaudRate, 1200u);

    dlg->SetPorts({"COM2"});  // a machine that never answers: opened, set up, given up
    Load(StoredFile(0));
    Click(IDC_PROGRAM);
    ASSERT_TRUE(Pump(5000, [&] { return Text(IDC_STATUS) == "COM2 open success! "; }));
    ASSERT_TRUE(Pump(5000, [&] { return Enabled(IDC_PROGRAM); })) << Text(IDC_STATUS);

    DCB after{};
    ASSERT_NO_FATAL_FAILURE(state(&after));
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_EQ(after.ByteSize, before.ByteSize);
    EXPECT_EQ(after.Parity, before.Parity);
    EXPECT_EQ(after.StopBits, before.StopBits);
    EXPECT_EQ(after.fOutxCtsFlow, before.fOutxCtsFlow);
    EXPECT_EQ(after.fOutX, before.fOutX);
    EXPECT_EQ(after.fInX, before.fInX);
    apply(original);
}

// --- The framework on its own -------------------------------------------------------

class TickingDlg : public CDialog {
  public:
    TickingDlg() : CDialog(IDD_ABOUTBOX) {}
    int ticks = 0;
    void OnTimer(UINT_PTR) { ++ticks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TickingDlg, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

// A window created hidden is never shown, and its timers run as a shown
// window's do.
TEST(Win32Framework, HiddenWindowIsNeverShownButItsTimersRun) {
    TickingDlg hidden;
    ASSERT_TRUE(hidden.Create(FALSE));
    ASSERT_TRUE(hidden.IsWindowAlive());
    hidden.SetTimer(1, 10);
    EXPECT_TRUE(Pump(5000, [&] { return hidden.ticks >= 2; }));
    EXPECT_FALSE(IsWindowVisible(hidden.Impl()->hwnd));
    hidden.DestroyWindow();
}

// A dialog for a window thread: what its timer and its private message
// see, and an event set once each has been seen.
class ThreadDlg : public CDialog {
  public:
    static constexpr UINT kHanded = WM_USER + 0x51;
    ThreadDlg() : CDialog(IDD_MAIN) {}

    int ticks = 0;
    DWORD tickThread = 0;
    HANDLE ticked = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // two ticks
    WPARAM handedValue = 0;
    DWORD handedThread = 0;

    ~ThreadDlg() override { CloseHandle(ticked); }
    void OnTimer(UINT_PTR) {
        tickThread = GetCurrentThreadId();
        if (++ticks == 2) {
            KillTimer(1);
            SetEvent(ticked);
        }
    }
    LRESULT OnHanded(WPARAM value, LPARAM) {
        handedValue = value;
        handedThread = GetCurrentThreadId();
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ThreadDlg, CDialog)
ON_WM_TIMER()
ON_MESSAGE(ThreadDlg::kHanded, OnHanded)
END_MESSAGE_MAP()

// Runs fn on the window thread and waits for it, no longer than 5 s. False
// when it did not run in time (the event is then left to it).
bool RunOn(CWindowThread& thread, std::function<void()> fn) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread.Post([fn = std::move(fn), done] {
        fn();
        SetEvent(done);
    });
    const bool ran = WaitForSingleObject(done, 5000) == WAIT_OBJECT_0;
    if (ran) {
        CloseHandle(done);
    }
    return ran;
}

// Hands value to target from a worker thread of its own, as a port's
// worker does, and waits no longer than 5 s for the handler before taking
// the message back. Whether the handler ran.
bool HandOverFromWorker(CHandOver& handOver, CWnd* target, WPARAM value) {
    HANDLE sent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> handled{false};
    std::thread worker([&] {
        handled = handOver.Send(target, ThreadDlg::kHanded, value, 0);
        SetEvent(sent);
    });
    if (WaitForSingleObject(sent, 5000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the hand-over was not handled in 5 s";
        handOver.Revoke();
    }
    worker.join();
    CloseHandle(sent);
    return handled;
}

// A window thread serves the hidden dialog made on it by itself, while the
// thread that started it does not run a message loop at all: the dialog
// has no window of the platform's, yet its controls keep what they are
// given; its timer fires on the thread, and a worker's hand-over is handled
// there. Once the dialog is gone a hand-over is refused, and the thread
// ends when told to.
TEST(Win32Framework, AWindowThreadServesItsDialogWithoutAWindow) {
    std::unique_ptr<ThreadDlg> dlg;
    std::unique_ptr<CHandOver> handOver;  // made on the dialog's thread, as a port's worker's is
    CWindowThread thread;                 // ends first, should the test end early
    DWORD threadId = 0;
    bool onWindowThread = false, alive = false, visible = true;
    HWND hwnd = reinterpret_cast<HWND>(1);
    std::string chosen, status;
    BOOL programEnabled = TRUE;
    ASSERT_TRUE(RunOn(thread, [&] {
        threadId = GetCurrentThreadId();
        onWindowThread = AfxOnWindowThread();
        dlg = std::make_unique<ThreadDlg>();
        dlg->Create(FALSE);
        hwnd = dlg->Impl()->hwnd;
        alive = dlg->IsWindowAlive();
        visible = dlg->IsWindowVisible() != FALSE;
        CWnd* type = dlg->GetDlgItem(IDC_MACHINE_TYPE);
        type->SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("first"));
        type->SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("second"));
        type->SendMessage(CB_SETCURSEL, 1, 0);
        chosen = type->GetWindowText();
        dlg->SetDlgItemText(IDC_STATUS, "Programming...");
        status = dlg->GetDlgItemText(IDC_STATUS);
        dlg->GetDlgItem(IDC_PROGRAM)->EnableWindow(FALSE);
        programEnabled = dlg->GetDlgItem(IDC_PROGRAM)->IsWindowEnabled();
        handOver = std::make_unique<CHandOver>();
        dlg->SetTimer(1, 10);
    }));
    EXPECT_TRUE(onWindowThread);
    EXPECT_FALSE(AfxOnWindowThread());
    EXPECT_NE(threadId, GetCurrentThreadId());
    EXPECT_EQ(hwnd, nullptr);
    EXPECT_TRUE(alive);
    EXPECT_FALSE(visible);
    EXPECT_EQ(chosen, "second");
    EXPECT_EQ(status, "Programming...");
    EXPECT_FALSE(programEnabled);

    EXPECT_EQ(WaitForSingleObject(dlg->ticked, 5000), WAIT_OBJECT_0) << "the timer never fired";
    EXPECT_TRUE(HandOverFromWorker(*handOver, dlg.get(), 42));
    ASSERT_TRUE(RunOn(thread, [] {}));  // what the handler and timer wrote is seen
    EXPECT_EQ(dlg->tickThread, threadId);
    EXPECT_EQ(dlg->handedValue, 42u);
    EXPECT_EQ(dlg->handedThread, threadId);

    ASSERT_TRUE(RunOn(thread, [&] { dlg->DestroyWindow(); }));
    EXPECT_FALSE(HandOverFromWorker(*handOver, dlg.get(), 7)) << "a hand-over to a dialog gone";
    ASSERT_TRUE(RunOn(thread, [&] { dlg.reset(); }));
    thread.Quit();
    EXPECT_TRUE(thread.Join(5000));
}

// A large static has the dialog font three times as high and bold, through
// a new text too, and a centred one centres it; the font goes with the
// dialog.
TEST(Win32Framework, LargeStaticHasTheDialogFontLargeAndBold) {
    const DialogTemplate* main = AfxFindDialogTemplate(IDD_MAIN);
    ASSERT_NE(main, nullptr);
    ControlTemplate large{ControlKind::Static, 202, "PASS", 5, 20, 190, 40};
    large.large = large.center = true;
    const DialogTemplate t{0,
                           "Large statics",
                           200,
                           70,
                           main->fontFace,
                           main->fontPointSize,
                           false,
                           false,
                           {{ControlKind::Static, IDC_STATIC, "Result:", 5, 5, 60, 8},
                            {ControlKind::Static, 201, "PASS", 70, 5, 60, 8},
                            large}};
    CDialog dlg(0);
    ASSERT_TRUE(win32::CreateDialogWindow(dlg, t, nullptr));
    HWND ordinary = dlg.GetDlgItem(201)->Impl()->hwnd;
    HWND big = dlg.GetDlgItem(202)->Impl()->hwnd;
    auto fontOf = [](HWND control) {
        return reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    };
    auto logFont = [](HFONT font) {
        LOGFONTA lf{};
        EXPECT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
        return lf;
    };
    EXPECT_EQ(GetWindowLongA(ordinary, GWL_STYLE) & SS_TYPEMASK, SS_LEFT);
    EXPECT_EQ(GetWindowLongA(big, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    const HFONT largeFont = fontOf(big);
    for (const char* text : {"PASS", "FAIL 12"}) {
        SCOPED_TRACE(text);
        dlg.GetDlgItem(202)->SetWindowText(text);
        ASSERT_EQ(fontOf(big), largeFont);
        const LOGFONTA small = logFont(fontOf(ordinary));
        const LOGFONTA lf = logFont(fontOf(big));
        EXPECT_STREQ(lf.lfFaceName, small.lfFaceName);
        EXPECT_NE(small.lfHeight, 0);
        EXPECT_EQ(lf.lfHeight, 3 * small.lfHeight);
        EXPECT_EQ(lf.lfWeight, FW_BOLD);
        EXPECT_LT(small.lfWeight, FW_BOLD);
    }
    EXPECT_TRUE(dlg.DestroyWindow());
    LOGFONTA gone{};
    EXPECT_EQ(GetObjectA(largeFont, sizeof gone, &gone), 0) << "the large font outlived its dialog";
}

// --- The serial backend on its own, with pseudo-terminals as COM ports ------------

// Runs `action` on a thread of its own after `ms`; the destructor waits for it.
class Later {
  public:
    Later(DWORD ms, std::function<void()> action) : m_ms(ms), m_action(std::move(action)) {
        m_thread = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    ~Later() {
        if (m_thread) {
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
        }
    }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;
    bool Started() const { return m_thread != nullptr; }

  private:
    static DWORD WINAPI Run(LPVOID self) {
        auto* later = static_cast<Later*>(self);
        Sleep(later->m_ms);
        later->m_action();
        return 0;
    }
    DWORD m_ms;
    std::function<void()> m_action;
    HANDLE m_thread = nullptr;
};

class Win32Port : public ::testing::Test {
  protected:
    void TearDown() override {
        if (port != kNoPort) {
            ClosePort(port);
        }
    }
    // Opens and sets up the COM port for a machine type.
    void Open(const std::string& name, MachineType type) {
        port = OpenPortByName(name);
        ASSERT_NE(port, kInvalidPort) << name << ": " << LastOpenError();
        ASSERT_TRUE(ConfigurePort(port, type)) << LastConfigureError();
    }
    // Starts a receive worker on the port, with no window to hand to (the
    // line is quiet, so it never hands anything over). Returns our own
    // handle to its thread.
    HANDLE StartWorker() {
        auto* params = new WorkerParams;
        params->port = port;
        const std::uintptr_t marker = StartReceiveWorker(params);
        EXPECT_NE(marker, 0u) << LastOpenError();
        HANDLE thread = nullptr;
        if (marker != 0) {
            EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(marker),
                                        GetCurrentProcess(), &thread,
                                        SYNCHRONIZE | THREAD_SUSPEND_RESUME, FALSE, 0));
        }
        return thread;
    }
    // Writes single bytes until the machine on COM7 holds the line, which it
    // does once it has read the first.
    void WaitUntilHeld() {
        const std::uint8_t one = 'x';
        for (int i = 0; i < 20; ++i) {
            if (!WritePort(port, &one, 1)) {
                return;
            }
        }
        FAIL() << "the machine never held the line";
    }

    PortHandle port = kNoPort;
};

// A line held by flow control: the write gives up at its bound (100 ms a
// byte and 100 ms; the driver's timeout, or our cancel just after it) and
// says so, the same again for the next write, and at once for one the abort
// flag gives up.
TEST_F(Win32Port, AWriteToAHeldLineGivesUpAtItsBoundAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(Open("COM7", 1));
    ASSERT_NO_FATAL_FAILURE(WaitUntilHeld());
    ASSERT_TRUE(LastWriteError().starts_with("timed out after 200 ms (")) << LastWriteError();

    const Bytes frame(10, 0x2A);  // bound: 1100 ms
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(WritePort(port, frame.data(), frame.size()));
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_EQ(LastWriteError(), "timed out after 1100 ms (0 of 10 bytes taken)");
        // It waited out its bound, and not much more (the promise is a
        // second; the margin is for a loaded machine, not a measure).
        EXPECT_GE(took, 1050u);
        EXPECT_LT(took, 1100u + 2000u) << "attempt " << attempt;
        std::printf("a held write of 10 bytes gave up after %llu ms\n", took);
    }

    // A block's bound is 13.4 s; the flag, set 300 ms in, ends it within
    // kAbortCheckMs (a second is the margin).
    std::atomic<int> abort{0};
    SetPortOptions(port, {.abortFlag = &abort});
    std::atomic<ULONGLONG> abortedAt{0};
    const Bytes block(133, 0x2A);
    bool ok = true;
    ULONGLONG returnedAt = 0;
    {
        Later interrupter(300, [&] {
            abortedAt = GetTickCount64();
            abort = 1;
        });
        ASSERT_TRUE(interrupter.Started());
        ok = WritePort(port, block.data(), block.size());
        returnedAt = GetTickCount64();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(LastWriteError(), "given up: interrupted (0 of 133 bytes taken)");
    ASSERT_NE(abortedAt.load(), 0u) << "returned before the flag was set";
    EXPECT_LT(returnedAt - abortedAt.load(), 1000u);
    std::printf("an aborted write gave up %llu ms after the flag\n", returnedAt - abortedAt.load());
}

TEST_F(Win32Port, DrainReturnsOnceWhatWasWrittenHasLeft) {
    ASSERT_NO_FATAL_FAILURE(Open("COM2", 1));
    const Bytes block = Pattern(133);
    ASSERT_TRUE(WritePort(port, block.data(), block.size())) << LastWriteError();
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(DrainPort(port)) << LastWriteError();
    EXPECT_LT(GetTickCount64() - start, 2000u);  // its bound here: 146 ms
    EXPECT_FALSE(DrainPort(kInvalidPort));
    EXPECT_EQ(LastWriteError(), "the port is not open");
}

// A worker waiting on a quiet line is woken by the close: the close says
// it went through, the thread has ended and the device is free again.
TEST_F(Win32Port, CloseEndsAWorkerWaitingOnAQuietLine) {
    ASSERT_NO_FATAL_FAILURE(Open("COM2", 0));
    HANDLE worker = StartWorker();
    ASSERT_NE(worker, nullptr);
    Sleep(300);  // well into its wait for a first character
    ASSERT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "it reads";

    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(ClosePort(port));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 2000u) << "not woken: waited out (part of) kWorkerEndMs";
    std::printf("closing a port with a waiting worker took %llu ms\n", took);
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(port), &flags));
    CloseHandle(worker);
    port = OpenPortByName("COM2");
    EXPECT_NE(port, kInvalidPort) << "the device was not let go: " << LastOpenError();
}

// A worker that cannot end (here: suspended) is waited for kWorkerEndMs and
// then left, with its port: the close says so, the device stays open (so
// its handle value is not given to another port), and once it runs again
// the worker finds its port and params still there and ends. The port
// stays open for the rest of the run, which is why it has COM8 to itself.
TEST_F(Win32Port, AWorkerThatDoesNotEndIsLeftWithItsPortOpen) {
    ASSERT_NO_FATAL_FAILURE(Open("COM8", 0));
    HANDLE worker = StartWorker();
    ASSERT_NE(worker, nullptr);
    Sleep(300);  // in its wait, holding nothing another thread needs
    ASSERT_NE(SuspendThread(worker), static_cast<DWORD>(-1));

    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ClosePort(port));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(LastCloseError(),
              "the receive worker did not end within 5000 ms; the port is left open");
    EXPECT_GE(took, static_cast<ULONGLONG>(kWorkerEndMs) - 50);
    EXPECT_LT(took, static_cast<ULONGLONG>(kWorkerEndMs) + 2000);
    std::printf("a close whose worker did not end gave up after %llu ms\n", took);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(port), &flags))
        << "the device was closed under the worker";
    // The handle no longer names an open port.
    const std::uint8_t one = 'x';
    EXPECT_FALSE(WritePort(port, &one, 1));
    EXPECT_TRUE(ClosePort(port));

    ASSERT_NE(ResumeThread(worker), static_cast<DWORD>(-1));
    EXPECT_EQ(WaitForSingleObject(worker, 5000), WAIT_OBJECT_0) << "the worker did not end";
    CloseHandle(worker);
    port = kNoPort;  // left to the backend for the life of the process
}

// A line error cannot be made on a pseudo-terminal (no break, framing or
// parity error reaches its reader, and Wine reports no CE_ flags), so the
// worker's reading on after one is shown here through what it decides on:
// a failed wait or read is a line error only when the driver says the line
// had one, or aborted the read as a port that aborts on errors does; any
// sign that the device itself is gone ends the worker, whatever flags come
// with it; and a failure that is neither ends it too rather than being
// retried for ever.
TEST(LineErrors, OnlyALineErrorKeepsTheWorkerReading) {
    const DWORD lineFlags[] = {CE_RXOVER, CE_OVERRUN, CE_RXPARITY, CE_FRAME, CE_BREAK};
    // Each line error, whatever the failure that came with it.
    for (DWORD flag : lineFlags) {
        for (DWORD error : {DWORD{ERROR_OPERATION_ABORTED}, DWORD{ERROR_IO_DEVICE}}) {
            EXPECT_EQ(ClassifyReadFailure(error, true, flag), ReadFailure::LineError)
                << "error " << error << ", flag " << flag;
        }
    }
    // The worker's own ClearCommError before each read may already have
    // taken the flags of the error that aborts the read.
    EXPECT_EQ(ClassifyReadFailure(ERROR_OPERATION_ABORTED, true, 0), ReadFailure::LineError);

    const DWORD goneErrors[] = {ERROR_ACCESS_DENIED,  ERROR_BAD_COMMAND,
                                ERROR_GEN_FAILURE,    ERROR_DEVICE_NOT_CONNECTED,
                                ERROR_DEVICE_REMOVED, ERROR_FILE_NOT_FOUND,
                                ERROR_INVALID_HANDLE, ERROR_OPERATION_ABORTED};
    for (DWORD error : goneErrors) {
        // ClearCommError refused: the driver no longer answers for the port.
        EXPECT_EQ(ClassifyReadFailure(error, false, 0), ReadFailure::DeviceGone) << error;
        EXPECT_EQ(ClassifyReadFailure(error, false, CE_FRAME), ReadFailure::DeviceGone) << error;
        // A removed device's failure, with a line error reported alongside.
        if (error != ERROR_OPERATION_ABORTED) {
            EXPECT_EQ(ClassifyReadFailure(error, true, CE_FRAME | CE_OVERRUN),
                      ReadFailure::DeviceGone)
                << error;
        }
    }
    // Neither: no flags, or flags that are not the line's (the output queue
    // full, a mode error), with a failure that is not an abort.
    for (DWORD flags : {DWORD{0}, DWORD{CE_TXFULL}, DWORD{CE_MODE}}) {
        EXPECT_EQ(ClassifyReadFailure(ERROR_IO_DEVICE, true, flags), ReadFailure::DeviceGone)
            << flags;
    }
}

}  // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (argc == 3 && std::strcmp(argv[1], "--write-images") == 0) {
        WriteImages(argv[2]);
        return 0;
    }
    if (const char* dir = std::getenv("DT_WINE_DATA")) {
        SetWineDataDir(dir);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
