// The station window as Windows shows it: four fixture positions on the
// COM ports run_under_wine.sh serves for it (COM21 to COM24, see the top
// of win32_test.cpp), set up by a station file as a person writes it and
// programmed at once through the real window.
#include <gtest/gtest.h>

#include "framework/win32/window_impl.h"  // first: the framework's names, then Windows'

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "station/station_file.h"
#include "tests/test_data.h"
#include "tests/test_records.h"
#include "tests/win32/win32_support.h"
#include "tests/win32/window_capture.h"
#include "ui/station_dlg.h"
#include "ui/station_layout.h"

namespace {

constexpr MachineType kType = 1;
constexpr int kPositions = 4;
// The ports as the station file names them: plain COM names, by which
// Windows opens no COM port from COM10 on ...
const std::vector<std::string> kWritten = {"COM21", "COM22", "COM23", "COM24"};
// ... and the names the positions open, show and record.
const std::vector<std::string> kPorts = {"\\\\.\\COM21", "\\\\.\\COM22", "\\\\.\\COM23",
                                         "\\\\.\\COM24"};

// The ids of this process's threads.
std::set<DWORD> OwnThreads() {
    std::set<DWORD> ids;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ids.insert(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

// The handles of this process that are COM ports. (Wine lets a second
// exclusive open of a port through, so a port's being open is seen here,
// not by opening it again.)
std::set<HANDLE> OwnPortHandles() {
    std::set<HANDLE> ports;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        const auto h = reinterpret_cast<HANDLE>(value);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (GetFileType(h) == FILE_TYPE_CHAR && GetCommState(h, &dcb)) {
            ports.insert(h);
        }
    }
    return ports;
}

// A message box would hold the test in its modal loop for ever: one that
// shows up while the timer runs is a failure, and is answered No (or OK) so
// that the test goes on.
HWND g_station = nullptr;

BOOL CALLBACK AnswerMessageBox(HWND window, LPARAM) {
    char kind[16] = {};
    GetClassNameA(window, kind, sizeof kind);
    if (window == g_station || !IsWindowVisible(window) || std::string(kind) != "#32770") {
        return TRUE;
    }
    char text[512] = {};
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // a message box's text
    ADD_FAILURE() << "a message box: " << text;
    const int answer = GetDlgItem(window, IDNO) ? IDNO : IDOK;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return TRUE;
}

void CALLBACK WatchForMessageBoxes(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), &AnswerMessageBox, 0);
}

class Win32Station : public ::testing::Test {
  protected:
    void TearDown() override {
        KillTimer(nullptr, watch);
        g_station = nullptr;
        dlg.reset();
        app.m_pMainWnd = nullptr;
        Pump(50);
    }

    HWND Hwnd(int id) const { return dlg->GetDlgItem(id)->Impl()->hwnd; }
    std::string Text(int id) const {
        char text[512] = {};
        GetWindowTextA(Hwnd(id), text, sizeof text);
        return text;
    }
    std::string Panel(int index, int field) const { return Text(PanelControlId(index, field)); }
    bool Enabled(int id) const { return IsWindowEnabled(Hwnd(id)) != FALSE; }
    void Click(int id) {
        ASSERT_TRUE(Enabled(id)) << "control " << id;
        SendMessageA(Hwnd(id), BM_CLICK, 0, 0);
    }
    // Whether the panels show these results ("" for any).
    bool Shows(const std::vector<std::string>& results) const {
        for (int i = 0; i < kPositions; ++i) {
            if (!results[i].empty() && Panel(i, PANEL_RESULT) != results[i]) {
                return false;
            }
        }
        return true;
    }
    std::string Results() const {
        std::string all;
        for (int i = 0; i < kPositions; ++i) {
            all += (i ? ", " : "") + Panel(i, PANEL_RESULT) + " (" + Panel(i, PANEL_STATE) + ")";
        }
        return all;
    }

    CWinApp app;
    std::unique_ptr<CStationDlg> dlg;
    UINT_PTR watch = 0;
};

// Three machines take the image whole and one stops its download: the
// panels, the day's totals and the record file say so, and once the window
// is closed no port is open and no thread of the station's is left.
//
// A position goes on to the next unit once one ends, and a machine waits
// for a new opening request after its download, so it would be programmed
// again and again. Each position programs exactly one unit here: Stop is
// pressed as soon as every position's machine has answered, so the four
// units under way finish and no position starts another. The machines'
// pace (run_under_wine.sh) leaves each download a second or more, and all
// four answer within moments of Start.
//
// With DT_SCREENSHOT_STATION_WIN32 set to a path (a Windows one; the
// runner script turns a Unix path into one), a picture of the window
// mid-run, once position 1 has passed and position 4 has failed, is saved
// there as a PNG file.
TEST_F(Win32Station, FourPositionsProgramOneUnitEachAndRecordThem) {
    ASSERT_FALSE(WineDataDir().empty()) << "run by run_under_wine.sh, with DT_WINE_DATA";
    // GoogleTest keeps a thread of its own for this thread's trace stack,
    // started at its first use: here, before the threads are counted.
    SCOPED_TRACE("the station window");
    TempDir dir{"station"};
    std::string text = "# Line 1, fixture A\ntype = " + std::to_string(kType) +
                       "\nimage = " + StoredFile(kType) +
                       "\nrecord = " + (dir.path() / "units.jsonl").string() + "\n";
    for (const std::string& port : kWritten) {
        text += "port = " + port + "\n";
    }
    const std::string path = dir.Write("line1.station", Bytes(text.begin(), text.end())).string();
    StationSettings settings;
    std::string error;
    ASSERT_TRUE(ReadStationFile(path, settings, error)) << error;
    ASSERT_EQ(settings.ports, kWritten);

    const std::set<DWORD> threadsBefore = OwnThreads();
    ASSERT_FALSE(threadsBefore.empty());
    const std::set<HANDLE> portsBefore = OwnPortHandles();
    dlg = std::make_unique<CStationDlg>(settings, path, true);
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create());
    g_station = dlg->Impl()->hwnd;
    watch = SetTimer(nullptr, 0, 100, &WatchForMessageBoxes);
    Pump(200);
    EXPECT_EQ(Panel(3, PANEL_BOX), "Position 4");
    EXPECT_EQ(Panel(3, PANEL_PORT), "Port: \\\\.\\COM24");
    EXPECT_EQ(Text(IDC_ST_TOTALS), "Today: 0 passed, 0 failed");
    ASSERT_TRUE(Enabled(IDC_ST_START)) << "the image or the record file was refused";

    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_START));
    const Station& station = *dlg->GetStation();
    const auto allAnswered = [&] {
        for (int i = 0; i < kPositions; ++i) {
            const UnitRunner* runner = station.RunnerOf(i);
            if (runner == nullptr || !runner->Answered()) {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(Pump(30000, allAnswered)) << Results();
    for (int i = 0; i < kPositions; ++i) {
        ASSERT_FALSE(station.Positions()[i].last.has_value())
            << "position " << i + 1 << " ended a unit before every machine had answered";
    }
    // The ports are the station's now, each read by a worker of its own:
    // the threads started since the window was made are to end with it.
    EXPECT_EQ(OwnPortHandles().size(), portsBefore.size() + kPositions);
    std::vector<HANDLE> started;
    for (const DWORD id : OwnThreads()) {
        if (!threadsBefore.contains(id)) {
            if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) {
                started.push_back(thread);
            }
        }
    }
    EXPECT_GE(started.size(), static_cast<std::size_t>(kPositions));
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_STOP));

    if (const char* keep = std::getenv("DT_SCREENSHOT_STATION_WIN32")) {
        ASSERT_TRUE(Pump(60000, [&] { return Shows({"PASS", "", "", "FAIL"}); })) << Results();
        RedrawWindow(g_station, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
        Pump(150);  // drawn as it stands
        EXPECT_TRUE(SaveWindowPng(g_station, keep, error)) << error;
        RECT r{};
        GetWindowRect(g_station, &r);
        std::printf("the station window, %ld x %ld pixels, saved to %s\n", r.right - r.left,
                    r.bottom - r.top, keep);
    }

    ASSERT_TRUE(Pump(60000, [&] {
        return !station.Running() && Shows({"PASS", "PASS", "PASS", "FAIL"});
    })) << Results();
    for (int i = 0; i < kPositions; ++i) {
        SCOPED_TRACE("position " + std::to_string(i + 1));
        EXPECT_EQ(Panel(i, PANEL_STATE), "Stopped");
        EXPECT_EQ(Panel(i, PANEL_COUNTS), i < 3 ? "Passed 1    Failed 0" : "Passed 0    Failed 1");
        EXPECT_EQ(Panel(i, PANEL_PERCENT), "");
        EXPECT_EQ(Panel(i, PANEL_REASON).rfind(i < 3 ? "Done: " : "Stopped: ", 0), 0u)
            << Panel(i, PANEL_REASON);
    }
    EXPECT_EQ(Text(IDC_ST_TOTALS), "Today: 3 passed, 1 failed");
    EXPECT_TRUE(Enabled(IDC_ST_START));
    EXPECT_FALSE(Enabled(IDC_ST_STOP));

    const auto records = ReadRecords(settings.record);
    ASSERT_EQ(records.size(), 4u) << "one unit a position";
    std::map<std::string, std::pair<std::string, std::string>> byPosition;
    for (const auto& r : records) {
        byPosition[r.at("position")] = {r.at("result"), r.at("port")};
    }
    EXPECT_EQ(byPosition, (std::map<std::string, std::pair<std::string, std::string>>{
                              {"1", {"done", kPorts[0]}},
                              {"2", {"done", kPorts[1]}},
                              {"3", {"done", kPorts[2]}},
                              {"4", {"stopped", kPorts[3]}}}));

    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_EXIT));
    EXPECT_TRUE(dlg->Impl()->ended);
    EXPECT_EQ(dlg->Impl()->result, IDCANCEL);
    dlg->DestroyWindow();
    dlg.reset();
    app.m_pMainWnd = nullptr;
    g_station = nullptr;
    EXPECT_EQ(OwnPortHandles(), portsBefore) << "a port was left open";
    const auto ended = [&] {
        return std::all_of(started.begin(), started.end(), [](HANDLE thread) {
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        });
    };
    EXPECT_TRUE(Pump(5000, ended)) << "a thread of the station's is still running";
    for (const HANDLE thread : started) {
        CloseHandle(thread);
    }
}

}  // namespace
