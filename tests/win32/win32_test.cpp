// The Windows build driving its real dialog: run under Wine by
// tests/win32/run_under_wine.sh, which serves COM ports from pseudo-terminals
// with target-sim behind them:
//   COM2  a machine that never answers      COM3  machine type 0
//   COM4  machine type 1                    \\.\COM10  machine type 2
//   COM5  machine type 1 that vanishes after 2 blocks
//   COM6  machine type 0, for a download that is broken off
// and no COM9 at all (Wine maps COM1 to the host's first serial port). Before starting them the
// script runs this program with
// --write-images DIR to make the images the machines expect.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/win32/window_impl.h"
#include "image/stored_image.h"
#include "serial/win32/line_errors.h"
#include "tests/test_data.h"
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

std::string g_dataDir;  // where the images are, as a Windows path

// The stored file of each machine type: raw for type 0, scrambled for 1, 2.
std::string StoredFile(MachineType type) {
    return g_dataDir + "\\image" + std::to_string(type) + StoredFileSuffix(type);
}

void WriteImages(const std::string& dir) {
    for (MachineType t = 0; t < 3; ++t) {
        const Bytes raw = Image(t);
        WriteBytes(dir + "\\image" + std::to_string(t) + ".bin", raw);
        WriteStoredImage(dir + "\\image" + std::to_string(t) + StoredFileSuffix(t), t, raw);
    }
}

// Runs the message loop for up to ms of real time, or until done() holds.
bool Pump(
    DWORD ms, const std::function<bool()>& done = [] { return false; }) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (done()) {
            return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return done();
}

// Something to do once a window with this caption is up, from inside
// whatever modal loop is running then.
std::function<void(HWND)> g_onWindow;
std::string g_waitCaption;

void CALLBACK WatchForWindow(HWND, UINT, UINT_PTR id, DWORD) {
    HWND w = FindWindowA(nullptr, g_waitCaption.c_str());
    if (w && IsWindowVisible(w)) {
        KillTimer(nullptr, id);
        auto action = std::move(g_onWindow);
        action(w);
    }
}

void WhenWindowAppears(const std::string& caption, std::function<void(HWND)> action) {
    g_waitCaption = caption;
    g_onWindow = std::move(action);
    SetTimer(nullptr, 0, 50, &WatchForWindow);
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
        std::string seenFilter;
        WhenWindowAppears("Open", [path](HWND box) {
            HWND name = GetDlgItem(box, 0x47C);  // the file name box
            if (HWND edit = FindWindowExA(name, nullptr, "Edit", nullptr)) {
                name = edit;
            }
            if (name == nullptr) {
                name = GetDlgItem(box, 0x480);
            }
            SetWindowTextA(name, path.c_str());
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        });
        Click(IDC_LOAD_FILE);
        Pump(200);
    }
    void SelectType(MachineType type) {
        SetPortList({"COM9"});
        Load(StoredFile(0));
        Click(IDC_PROGRAM);
        ASSERT_TRUE(Pump(10000, [&] { return Enabled(IDC_MACHINE_TYPE); }));
        ResetPortList();
        SendMessageA(Hwnd(IDC_MACHINE_TYPE), CB_SETCURSEL, type, 0);
        SendMessageA(dlg->Impl()->hwnd, WM_COMMAND, MAKEWPARAM(IDC_MACHINE_TYPE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Hwnd(IDC_MACHINE_TYPE)));
        ASSERT_EQ(dlg->GetMachineType(), type);
    }
    void Download(MachineType type, std::vector<std::string> ports) {
        if (type != 0) {
            SelectType(type);
        }
        SetPortList(std::move(ports));
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
    SetPortList({"COM9", "COM2"});
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
    SetPortList({"COM5"});
    Load(StoredFile(1));
    Click(IDC_PROGRAM);
    EXPECT_TRUE(Pump(5000, [&] { return Text(IDC_SEND_LENGTH) == "256"; }));
    // The failed read is no line error: the worker ends, the port is lost.
    EXPECT_TRUE(Pump(3000, [&] { return PortIsLost(dlg->GetPort()); }));
    EXPECT_FALSE(Enabled(IDC_PROGRAM));  // no timeout inside the exchange
    // Load File makes Program available again; the machine on COM4 answers.
    SetPortList({"COM5", "COM4"});
    Load(StoredFile(1));
    Click(IDC_PROGRAM);
    EXPECT_TRUE(Pump(60000, [&] { return Enabled(IDC_PROGRAM); }));
    EXPECT_EQ(Text(IDC_STATUS), "Programming...    100% Done  ");
}

TEST_F(Win32Dialog, ExitEndsTheDialogMidDownload) {
    SetPortList({"COM6"});
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

    SetPortList({"COM2"});  // a machine that never answers: opened, set up, given up
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

// A failed wait or read: a line error is cleared and the worker reads on;
// a device that has gone ends it.
TEST(LineErrors, AreToldFromADeviceThatHasGone) {
    struct Case {
        DWORD error;
        bool cleared;
        DWORD commErrors;
        ReadFailure expected;
    };
    const Case cases[] = {
        {ERROR_OPERATION_ABORTED, true, CE_FRAME, ReadFailure::LineError},
        {ERROR_OPERATION_ABORTED, true, CE_RXPARITY, ReadFailure::LineError},
        {ERROR_OPERATION_ABORTED, true, CE_OVERRUN | CE_BREAK, ReadFailure::LineError},
        {ERROR_OPERATION_ABORTED, true, 0, ReadFailure::LineError},  // flags taken already
        {ERROR_IO_DEVICE, true, CE_RXOVER, ReadFailure::LineError},
        {ERROR_OPERATION_ABORTED, false, 0, ReadFailure::DeviceGone},  // the port is gone
        {ERROR_ACCESS_DENIED, true, 0, ReadFailure::DeviceGone},
        {ERROR_BAD_COMMAND, true, CE_FRAME, ReadFailure::DeviceGone},
        {ERROR_GEN_FAILURE, true, 0, ReadFailure::DeviceGone},
        {ERROR_DEVICE_NOT_CONNECTED, true, 0, ReadFailure::DeviceGone},
        {ERROR_DEVICE_REMOVED, true, 0, ReadFailure::DeviceGone},
        {ERROR_INVALID_HANDLE, false, 0, ReadFailure::DeviceGone},
        {ERROR_IO_DEVICE, true, 0, ReadFailure::DeviceGone},  // neither: as it always was
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyReadFailure(c.error, c.cleared, c.commErrors), c.expected)
            << "error " << c.error << ", cleared " << c.cleared << ", flags " << c.commErrors;
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
        g_dataDir = dir;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
