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
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "station/records.h"
#include "station/station_file.h"
#include "tests/test_data.h"
#include "tests/test_records.h"
#include "tests/win32/win32_support.h"
#include "tests/win32/window_capture.h"
#include "ui/station_dlg.h"
#include "ui/station_layout.h"
#include "ui/station_setup_dlg.h"

namespace {

// Whether a position's machine has answered, as the window learns it: each
// position runs on a thread of its own, and publishes what it does.
bool Answered(const Station& station, std::size_t index) {
    const PositionState state = station.Positions()[index].state;
    return state == PositionState::Programming || state == PositionState::Finishing;
}

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
    char caption[32] = {};
    GetWindowTextA(window, caption, sizeof caption);
    // The framework's boxes all have its caption; other dialogs (the
    // settings, a file dialog) are the test's to answer.
    if (window == g_station || !IsWindowVisible(window) || std::string(kind) != "#32770" ||
        std::string(caption) != "DownloadTool") {
        return TRUE;
    }
    wchar_t text[512] = {};
    GetDlgItemTextW(window, 0xFFFF, text, 512);  // a message box's text
    ADD_FAILURE() << "a message box: " << win32::Utf8(text);
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
    // A control's text as the framework reads it, in UTF-8.
    std::string Utf8Text(int id) const { return dlg->GetDlgItemText(id); }
    bool Enabled(int id) const { return IsWindowEnabled(Hwnd(id)) != FALSE; }
    void Click(int id) {
        ASSERT_TRUE(Enabled(id)) << "control " << id;
        SendMessageA(Hwnd(id), BM_CLICK, 0, 0);
    }
    // Whether the first panels show these results ("" for any).
    bool Shows(const std::vector<std::string>& results) const {
        for (std::size_t i = 0; i < results.size(); ++i) {
            const int panel = static_cast<int>(i);
            if (!results[i].empty() && Panel(panel, PANEL_RESULT) != results[i]) {
                return false;
            }
        }
        return true;
    }
    std::string Results() const {
        std::string all;
        const int panels = static_cast<int>(dlg->GetStation()->Positions().size());
        for (int i = 0; i < panels; ++i) {
            all += (i ? ", " : "") + Panel(i, PANEL_RESULT) + " (" + Panel(i, PANEL_STATE) + ")";
        }
        return all;
    }

    // Makes the station window from settings and a station file, and shows
    // it.
    void Open(const StationSettings& settings, const std::string& file) {
        dlg = std::make_unique<CStationDlg>(settings, file, true);
        app.m_pMainWnd = dlg.get();
        ASSERT_TRUE(dlg->Create());
        g_station = dlg->Impl()->hwnd;
        Pump(200);
    }
    // Exit, and the window gone.
    void Close() {
        ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_EXIT));
        dlg->DestroyWindow();
        dlg.reset();
        app.m_pMainWnd = nullptr;
        g_station = nullptr;
    }

    CWinApp app;
    std::unique_ptr<CStationDlg> dlg;
    UINT_PTR watch = 0;
};

namespace fs = std::filesystem;

// A path in UTF-8, as the station takes it, and back.
std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(Utf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
            if (!Answered(station, i)) {
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

// A held adapter holds only its own position. Position 2's machine (COM26)
// holds the line after two blocks, so its next block is not taken for
// 13.4 s (100 ms a byte and 100 ms), all of which its write spends on its
// position's thread. Position 1's machine (COM25) is paced at 9600 baud, a
// download of some 5 s, under a silence limit of 3 s: it is done, and the
// window shows its PASS while position 2 is still programming, its held
// write under way, so the window's timer went on meanwhile. Had the held
// write held the window's thread, nothing would have been shown until it
// gave up, and position 1 would have fallen silent. The held unit is
// recorded as a port that did not take its block, for its bound; closing
// the window gives up the write that is held again, and closes both ports.
TEST_F(Win32Station, AHeldPortHoldsOnlyItsOwnPosition) {
    ASSERT_FALSE(WineDataDir().empty()) << "run by run_under_wine.sh, with DT_WINE_DATA";
    TempDir dir{"station"};
    StationSettings settings;
    settings.type = kType;
    settings.image = StoredFile(kType);
    settings.record = (dir.path() / "units.jsonl").string();
    settings.timeoutSeconds = 3;
    settings.ports = {"COM25", "COM26"};
    const std::set<HANDLE> portsBefore = OwnPortHandles();
    watch = SetTimer(nullptr, 0, 100, &WatchForMessageBoxes);
    ASSERT_NO_FATAL_FAILURE(Open(settings, ""));
    ASSERT_TRUE(Enabled(IDC_ST_START)) << "the image or the record file was refused";
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_START));

    bool passBesideHeld = false;
    ASSERT_TRUE(Pump(60000, [&] {
        passBesideHeld =
            passBesideHeld || (Panel(0, PANEL_RESULT) == "PASS" && Panel(1, PANEL_RESULT).empty() &&
                               Panel(1, PANEL_STATE) == "Programming");
        return !Panel(1, PANEL_RESULT).empty();
    })) << Results();
    EXPECT_TRUE(passBesideHeld) << "position 1's PASS was not shown while position 2 was held: "
                                << Results();

    // Each position's first unit; a position goes on to the next meanwhile.
    std::map<std::string, std::map<std::string, std::string>> first;
    for (const auto& r : ReadRecords(settings.record)) {
        first.emplace(r.at("position"), r);
    }
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first["1"].at("result"), "done") << first["1"].at("reason");
    EXPECT_EQ(first["1"].at("port"), "\\\\.\\COM25");
    EXPECT_EQ(first["2"].at("result"), "port refused") << first["2"].at("reason");
    EXPECT_NE(first["2"].at("reason").find(": timed out after 13400 ms ("), std::string::npos)
        << first["2"].at("reason");

    g_station = nullptr;
    dlg->DestroyWindow();
    dlg.reset();
    app.m_pMainWnd = nullptr;
    EXPECT_EQ(OwnPortHandles(), portsBefore) << "a port was left open";
}

// A station set up by hand in a folder named in Cyrillic, as an operator
// sets one up: in the settings dialog, Browse for the image (the Open
// dialog) and for the record file (Save As), then Save As for the station
// file, each name typed into the file dialog. Every name comes back from
// the dialogs, into the settings' fields and the station file, and to the
// files themselves as it was typed: the image is read (its SHA-256 shown),
// the station file is written and read back, the station programs a unit
// on each of its two positions and records them, and once restarted from
// its station file it shows the day's counts read back from the record
// file.
TEST_F(Win32Station, SetUpInAFolderNamedInCyrillicItKeepsItsCountsOverARestart) {
    ASSERT_FALSE(WineDataDir().empty()) << "run by run_under_wine.sh, with DT_WINE_DATA";
    TempDir dir{"station"};
    const fs::path folder = dir.path() / fs::path(u8"Линия 3");
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string image = Utf8(folder / fs::path(u8"прошивка.UPL"));
    const std::string record = Utf8(folder / fs::path(u8"записи.jsonl"));
    const std::string stationFile = Utf8(folder / fs::path(u8"линия.station"));
    fs::copy_file(PathOf(StoredFile(kType)), PathOf(image));
    LoadedImage expected;
    std::string error;
    ASSERT_TRUE(ReadImage(StoredFile(kType), expected, error)) << error;
    const std::vector<std::string> ports = {"\\\\.\\COM15", "\\\\.\\COM16"};
    watch = SetTimer(nullptr, 0, 100, &WatchForMessageBoxes);

    {
        StationSettings start;
        start.type = kType;
        start.ports = ports;
        CStationSetupDlg setup(start);
        ASSERT_TRUE(setup.Create());
        const auto click = [&](int id) {
            SendMessageA(setup.GetDlgItem(id)->Impl()->hwnd, BM_CLICK, 0, 0);
            Pump(100);
        };
        ChooseInFileDialog("Open", image);
        click(IDC_SU_IMAGE_BROWSE);
        EXPECT_EQ(setup.GetDlgItemText(IDC_SU_IMAGE), image);
        EXPECT_EQ(setup.GetDlgItemText(IDC_SU_SHA), expected.sha256);
        ChooseInFileDialog("Save As", record);
        click(IDC_SU_RECORD_BROWSE);
        EXPECT_EQ(setup.GetDlgItemText(IDC_SU_RECORD), record);
        ChooseInFileDialog("Save As", stationFile);
        click(IDC_SU_SAVE_AS);
        EXPECT_EQ(setup.SavedPath(), stationFile);
        setup.DestroyWindow();
    }
    // The station file was written under its name, and nothing else.
    EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"линия.station", "прошивка.UPL"}));
    StationSettings settings;
    ASSERT_TRUE(ReadStationFile(stationFile, settings, error)) << error;
    EXPECT_EQ(settings.image, image);
    EXPECT_EQ(settings.record, record);
    EXPECT_EQ(settings.sha256, expected.sha256);
    EXPECT_EQ(settings.ports, ports);

    ASSERT_NO_FATAL_FAILURE(Open(settings, stationFile));
    EXPECT_EQ(Utf8Text(IDC_ST_IMAGE), "Image: прошивка.UPL    " +
                                          std::to_string(expected.bytes.size()) +
                                          " bytes    SHA-256 " + expected.sha256.substr(0, 16));
    EXPECT_EQ(Utf8Text(IDC_ST_FILE), "Station file: " + stationFile + " (locked)");
    EXPECT_EQ(Utf8Text(IDC_ST_RECORD), "Records: " + record);
    ASSERT_TRUE(Enabled(IDC_ST_START)) << "the image or the record file was refused";
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_START));
    // One unit a position: Stop once both machines have answered (see the
    // test above).
    const Station& station = *dlg->GetStation();
    ASSERT_TRUE(Pump(30000, [&] {
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (!Answered(station, i)) {
                return false;
            }
        }
        return true;
    })) << Results();
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ST_STOP));
    ASSERT_TRUE(Pump(60000, [&] {
        return !station.Running() && Shows({"PASS", "PASS"});
    })) << Results();
    EXPECT_EQ(Text(IDC_ST_TOTALS), "Today: 2 passed, 0 failed");
    const auto records = ReadRecords(record);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r.at("image"), image);
        EXPECT_EQ(r.at("result"), "done");
    }
    ASSERT_NO_FATAL_FAILURE(Close());

    // The restart: the same station file, the counts from the record file.
    settings = {};
    ASSERT_TRUE(ReadStationFile(stationFile, settings, error)) << error;
    ASSERT_NO_FATAL_FAILURE(Open(settings, stationFile));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(Panel(static_cast<int>(i), PANEL_COUNTS), "Passed 1    Failed 0")
            << "position " << i + 1;
    }
    EXPECT_EQ(Text(IDC_ST_TOTALS), "Today: 2 passed, 0 failed");
    ASSERT_NO_FATAL_FAILURE(Close());
    EXPECT_EQ(NamesIn(folder),
              (std::vector<std::string>{"записи.jsonl", "линия.station", "прошивка.UPL"}));
}

}  // namespace
