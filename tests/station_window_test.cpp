// The station window on the headless framework: what the operator sees of
// the positions, the lock on the settings, and how it stops and closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>

#include "framework/headless/headless.h"
#include "image/stored_image.h"
#include "serial/memory/memory_line.h"
#include "station/computer_name.h"
#include "station/day_counts.h"
#include "station/json.h"
#include "station/json_object.h"
#include "station/password.h"
#include "station/records.h"
#include "station/station_file.h"
#include "tests/test_data.h"
#include "tools/sim/memory_device.h"
#include "ui/station_dlg.h"
#include "ui/station_layout.h"

namespace {

constexpr MachineType kType = 2;

// The hash of a supervisor password, with as few rounds as a file may give,
// so that each check is quick.
std::string HashOf(const std::string& password) {
    PasswordHash hash;
    std::string error;
    EXPECT_TRUE(HashPassword(password, kMinPasswordIterations, hash, error)) << error;
    return FormatPasswordHash(hash);
}

// Types password into the password dialog and presses OK, noting in
// *masked whether its field shows marks rather than the text.
std::function<INT_PTR(CDialog&)> TypePassword(const std::string& password, bool* masked) {
    return [password, masked](CDialog& ask) -> INT_PTR {
        *masked = headless::IsMasked(ask, IDC_PW_PASSWORD);
        ask.SetDlgItemText(IDC_PW_PASSWORD, password.c_str());
        headless::Click(ask, IDOK);
        return IDCANCEL;  // not reached: OK ended it
    };
}

std::vector<std::string> LinesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string ContentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A string field of a record line; nullopt when the line is not one flat
// object or has no such string.
std::optional<std::string> Field(const std::string& line, const std::string& key) {
    std::vector<JsonField> fields;
    if (!ReadFlatJsonObject(line, fields)) {
        return std::nullopt;
    }
    for (const JsonField& f : fields) {
        if (f.key == key && f.kind == JsonField::Kind::String) {
            return f.text;
        }
    }
    return std::nullopt;
}

std::size_t PasswordDialogsShown() {
    const auto shown = headless::ModalTemplatesShown();
    return static_cast<std::size_t>(std::count(shown.begin(), shown.end(), IDD_STATION_PASSWORD));
}

// An empty fixture: the adapter is there, no unit is attached.
class EmptyFixture : public memory::Peer {
  public:
    void OnHostBytes(memory::Line&, const std::uint8_t*, std::size_t) override {}
};

class StationWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Reset();
        memory::DetachAll();
        headless::ClearMessageBoxes();
        const Bytes file = StoredImage(kType, Pattern(4096, 3));
        settings.type = kType;
        settings.image = dir.Write("FW.UPL", file).string();
        settings.record = (dir.path() / "units.jsonl").string();
        settings.ports = {"COM1", "COM2"};
        LoadedImage image;
        std::string error;
        ASSERT_TRUE(ReadImage(settings.image, image, error)) << error;
        settings.sha256 = image.sha256;
        machine.machine.turnaroundMs = 40;  // a download of some seconds
        machine.AttachTo("COM1");
        memory::AttachDevice("COM2", &empty);
    }
    void TearDown() override {
        dlg.reset();
        memory::DetachAll();
        headless::Reset();
    }

    void Open(bool locked = true) {
        dlg = std::make_unique<CStationDlg>(settings, (dir.path() / "a.station").string(), locked);
        app.m_pMainWnd = dlg.get();
        ASSERT_TRUE(dlg->Create());
        headless::Advance(50);  // the window is up
    }
    std::string Panel(int index, int field) const {
        return dlg->GetDlgItemText(PanelControlId(index, field));
    }
    bool Enabled(int id) const { return dlg->GetDlgItem(id)->IsWindowEnabled() != FALSE; }
    // Runs the clock until done(), at most limitMs.
    bool RunUntil(const std::function<bool()>& done, std::uint64_t limitMs = 30000) {
        for (std::uint64_t t = 0; t < limitMs && !done(); t += 50) {
            headless::Advance(50);
        }
        return done();
    }

    TempDir dir{"station-window"};
    CWinApp app;
    StationSettings settings;
    SimulatedDevice machine{kType};
    EmptyFixture empty;
    std::unique_ptr<CStationDlg> dlg;
};

TEST_F(StationWindowTest, APositionProgramsItsUnitAndShowsPassWithItsCounts) {
    Open();
    EXPECT_EQ(Panel(0, PANEL_BOX), "Position 1");
    EXPECT_EQ(Panel(1, PANEL_PORT), "Port: COM2");
    EXPECT_NE(dlg->GetDlgItemText(IDC_ST_IMAGE).find(settings.sha256.substr(0, 16)),
              std::string::npos);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_IMAGE).find(settings.sha256.substr(0, 17)),
              std::string::npos);
    EXPECT_FALSE(Enabled(IDC_ST_SETTINGS)) << "locked";

    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_START));
    EXPECT_FALSE(Enabled(IDC_ST_START));
    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_STATE) == "Programming"; }));
    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_PERCENT) == "50 %"; }));
    EXPECT_EQ(Panel(1, PANEL_STATE), "Waiting for a unit");

    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_RESULT) == "PASS"; }));
    EXPECT_EQ(Panel(0, PANEL_REASON).rfind("Done: the whole image was sent (", 0), 0u)
        << Panel(0, PANEL_REASON);
    EXPECT_EQ(Panel(0, PANEL_COUNTS), "Passed 1    Failed 0");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_TOTALS), "Today: 1 passed, 0 failed");
    EXPECT_EQ(Panel(1, PANEL_RESULT), "");
    EXPECT_TRUE(headless::MessageBoxes().empty());
}

TEST_F(StationWindowTest, UnlockingAsksFirstAndOnlyThenAllowsSettings) {
    Open();
    headless::ScriptMessageBox([](const std::string&) { return IDNO; });
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_TRUE(dlg->IsLocked());
    EXPECT_FALSE(Enabled(IDC_ST_SETTINGS));

    headless::ScriptMessageBox([](const std::string&) { return IDYES; });
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_FALSE(dlg->IsLocked());
    EXPECT_TRUE(Enabled(IDC_ST_SETTINGS));
    EXPECT_NE(dlg->GetDlgItemText(IDC_ST_FILE).find("(unlocked)"), std::string::npos);
    ASSERT_EQ(headless::MessageBoxes().size(), 2u);
    EXPECT_NE(headless::MessageBoxes()[0].find("a.station"), std::string::npos)
        << "says where changes go";

    // The operator locks them again.
    headless::SystemCommand(*dlg, IDM_LOCK);
    EXPECT_TRUE(dlg->IsLocked());
    EXPECT_FALSE(Enabled(IDC_ST_SETTINGS));
    EXPECT_NE(dlg->GetDlgItemText(IDC_ST_FILE).find("(locked)"), std::string::npos);
    headless::ScriptMessageBox([](const std::string&) { return IDYES; });
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_FALSE(dlg->IsLocked());

    // While the station runs its settings stay as they are.
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_START));
    EXPECT_FALSE(Enabled(IDC_ST_SETTINGS));
}

// With a supervisor password in the station file, unlocking asks for it: a
// wrong one is refused once kWrongPasswordMs have passed, while the window
// goes on serving the positions, and no other is taken meanwhile; the right
// one unlocks at once. Each is an event line in the record file, which the
// day's counts pass over.
TEST_F(StationWindowTest, AWrongPasswordIsRefusedAfterADelayTheRightOneUnlocks) {
    const std::string unit = "{\"time\":" + JsonString(UtcTime(std::time(nullptr))) +
                             ",\"station\":\"vm\",\"position\":1,\"result\":\"done\"}";
    std::ofstream(settings.record, std::ios::binary) << unit << "\n";
    settings.password = HashOf("Sup3r-Secret");
    Open();
    ASSERT_EQ(dlg->GetDlgItemText(IDC_ST_TOTALS), "Today: 1 passed, 0 failed");
    const std::size_t asked = PasswordDialogsShown();

    // Cancelled: nothing is done, nothing recorded.
    headless::ScriptModal([](CDialog&) -> INT_PTR { return IDCANCEL; });
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_EQ(PasswordDialogsShown(), asked + 1);
    EXPECT_TRUE(dlg->IsLocked());
    EXPECT_EQ(LinesOf(settings.record).size(), 1u);

    bool masked = false;
    headless::ScriptModal(TypePassword("Guess-1234", &masked));
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_TRUE(masked);
    EXPECT_TRUE(dlg->IsLocked());
    EXPECT_TRUE(headless::MessageBoxes().empty()) << "refused only once the delay is over";
    const std::uint32_t ticks = dlg->Ticks();
    headless::Advance(kWrongPasswordMs - 100);
    EXPECT_TRUE(headless::MessageBoxes().empty());
    EXPECT_GE(dlg->Ticks(), ticks + (kWrongPasswordMs - 100) / kStationTickMs - 1)
        << "the window went on meanwhile";
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_EQ(PasswordDialogsShown(), asked + 2) << "no other password while one is refused";
    headless::Advance(200);
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(headless::MessageBoxes()[0],
              "That is not the supervisor's password: the settings stay locked.");
    EXPECT_TRUE(dlg->IsLocked());
    EXPECT_FALSE(Enabled(IDC_ST_SETTINGS));

    headless::ScriptModal(TypePassword("Sup3r-Secret", &masked));
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    EXPECT_FALSE(dlg->IsLocked());
    EXPECT_TRUE(Enabled(IDC_ST_SETTINGS));
    EXPECT_EQ(headless::MessageBoxes().size(), 1u) << "no confirmation besides the password";
    headless::SystemCommand(*dlg, IDM_LOCK);
    EXPECT_TRUE(dlg->IsLocked());

    // The unit, then the events in order; never a password.
    const std::vector<std::string> lines = LinesOf(settings.record);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], unit);
    const char* events[] = {"wrong password", "unlocked", "locked"};
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(Field(lines[i], "event"), events[i - 1]);
        EXPECT_EQ(Field(lines[i], "station"), StationName());
        EXPECT_EQ(Field(lines[i], "station_file"), (dir.path() / "a.station").string());
        const std::optional<std::string> time = Field(lines[i], "time");
        ASSERT_TRUE(time.has_value());
        EXPECT_EQ(time->size(), 20u);
        EXPECT_TRUE(time->ends_with("Z")) << *time;
    }
    EXPECT_EQ(Field(lines[2], "with"), "password");
    const std::string text = ContentsOf(settings.record);
    EXPECT_EQ(text.find("Guess-1234"), std::string::npos);
    EXPECT_EQ(text.find("Sup3r-Secret"), std::string::npos);

    // The day's counts as a restart reads them: the same, nothing unreadable.
    DayCounts counts;
    std::string error;
    ASSERT_TRUE(ReadDayCounts(settings.record, TodaysCountRules(), counts, error)) << error;
    EXPECT_EQ(counts.positions[0], (PositionCounts{1, 0}));
    EXPECT_EQ(counts.unreadable, 0);
    EXPECT_EQ(counts.doneInFile, 1);
    dlg.reset();
    Open();
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_TOTALS), "Today: 1 passed, 0 failed");
    EXPECT_EQ(dlg->GetStation()->UnreadableRecords(), 0);
}

// A change of settings made after the password is recorded key by key,
// from what to what; the station file keeps the password, which the
// record never shows.
TEST_F(StationWindowTest, ChangedSettingsAreRecordedAndKeepThePassword) {
    const std::string path = (dir.path() / "a.station").string();
    settings.password = HashOf("Sup3r-Secret");
    std::string error;
    ASSERT_TRUE(WriteStationFile(path, settings, error)) << error;
    Open();
    bool masked = false;
    headless::ScriptModal(TypePassword("Sup3r-Secret", &masked));
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    ASSERT_FALSE(dlg->IsLocked());
    headless::ScriptModal([](CDialog& setup) -> INT_PTR {
        setup.SetDlgItemText(IDC_SU_PORTS, "COM2 COM3");
        setup.SetDlgItemText(IDC_SU_TIMEOUT, "20");
        headless::Click(setup, IDOK);
        return IDCANCEL;  // not reached: OK ended it
    });
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_SETTINGS));
    ASSERT_TRUE(dlg->RebuildWanted());

    StationSettings written;
    ASSERT_TRUE(ReadStationFile(path, written, error)) << error;
    EXPECT_EQ(written.ports, (std::vector<std::string>{"COM2", "COM3"}));
    EXPECT_EQ(written.password, settings.password);
    EXPECT_EQ(dlg->NextSettings().password, settings.password);

    const std::vector<std::string> lines = LinesOf(settings.record);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Field(lines[0], "event"), "unlocked");
    const std::string& change = lines[1];
    EXPECT_EQ(Field(change, "event"), "settings changed");
    EXPECT_EQ(Field(change, "changed"), "port timeout");
    EXPECT_EQ(Field(change, "port_old"), "COM1 COM2");
    EXPECT_EQ(Field(change, "port_new"), "COM2 COM3");
    EXPECT_EQ(Field(change, "timeout_old"), "10");
    EXPECT_EQ(Field(change, "timeout_new"), "20");
    EXPECT_EQ(Field(change, "station_file"), path);
    EXPECT_EQ(Field(change, "image_old"), std::nullopt) << "what did not change is not told";
    EXPECT_EQ(ContentsOf(settings.record).find("pbkdf2"), std::string::npos);
}

TEST_F(StationWindowTest, ChangedSettingsAreWrittenBackToTheStationFile) {
    const std::string path = (dir.path() / "a.station").string();
    std::string error;
    ASSERT_TRUE(WriteStationFile(path, settings, error)) << error;
    Open();
    headless::ScriptMessageBox([](const std::string&) { return IDYES; });
    headless::SystemCommand(*dlg, IDM_UNLOCK);

    // Settings: the ports are set anew, one of them twice at first, then
    // twice spelt two ways (one port, by Windows' rules, which the
    // in-memory backend's names follow).
    headless::ScriptModal([](CDialog& setup) -> INT_PTR {
        setup.SetDlgItemText(IDC_SU_PORTS, "COM2, COM3 COM2");
        headless::Click(setup, IDOK);  // refused: stays open
        setup.SetDlgItemText(IDC_SU_PORTS, "COM2 COM3 \\\\.\\com2");
        headless::Click(setup, IDOK);  // refused: stays open
        setup.SetDlgItemText(IDC_SU_PORTS, "COM2, COM3\tCOM4");
        headless::Click(setup, IDOK);
        return IDCANCEL;  // not reached: OK ended it
    });
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_SETTINGS));
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_NE(boxes[1].find("COM2"), std::string::npos) << boxes[1];
    EXPECT_EQ(boxes[2],
              "Position 3's port \\\\.\\com2 is position 1's port COM2: give each position a "
              "port of its own.");

    EXPECT_TRUE(dlg->RebuildWanted());
    StationSettings written;
    ASSERT_TRUE(ReadStationFile(path, written, error)) << error;
    EXPECT_EQ(written.ports, (std::vector<std::string>{"COM2", "COM3", "COM4"}));
    EXPECT_EQ(written.image, settings.image);
    EXPECT_EQ(written.sha256, settings.sha256);
    EXPECT_EQ(dlg->NextSettings(), written);
    EXPECT_TRUE(dlg->NextLocked()) << "the rebuilt station opens locked";
}

// Pinning another image is a step of its own: saving settings with another
// image on disk asks, showing both hashes; No keeps the dialog open and the
// old pin; Yes pins the new one.
TEST_F(StationWindowTest, PinningAnotherImageAsksShowingBothHashes) {
    const std::string path = (dir.path() / "a.station").string();
    std::string error;
    ASSERT_TRUE(WriteStationFile(path, settings, error)) << error;
    const std::string pinned = settings.sha256;
    dir.Write("FW.UPL", StoredImage(kType, Pattern(4096, 4)));  // a new build on disk
    LoadedImage image;
    ASSERT_TRUE(ReadImage(settings.image, image, error)) << error;
    ASSERT_NE(image.sha256, pinned);

    Open();
    ASSERT_EQ(headless::MessageBoxes().size(), 1u) << "the image is refused at first";
    headless::ClearMessageBoxes();
    headless::ScriptMessageBox([](const std::string&) { return IDYES; });  // unlock
    headless::ScriptMessageBox([](const std::string&) { return IDNO; });   // pin: No
    headless::ScriptMessageBox([](const std::string&) { return IDYES; });  // pin: Yes
    headless::SystemCommand(*dlg, IDM_UNLOCK);
    bool stayedOpen = false;
    headless::ScriptModal([&](CDialog& setup) -> INT_PTR {
        headless::Click(setup, IDOK);  // No: stays open, nothing written
        StationSettings kept;
        std::string e;
        stayedOpen = ReadStationFile(path, kept, e) && kept.sha256 == pinned;
        headless::Click(setup, IDOK);  // Yes
        return IDCANCEL;               // not reached: OK ended it
    });
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_SETTINGS));
    EXPECT_TRUE(stayedOpen);
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const std::size_t i : {1u, 2u}) {
        EXPECT_NE(boxes[i].find(pinned), std::string::npos) << boxes[i];
        EXPECT_NE(boxes[i].find(image.sha256), std::string::npos) << boxes[i];
    }
    StationSettings written;
    ASSERT_TRUE(ReadStationFile(path, written, error)) << error;
    EXPECT_EQ(written.sha256, image.sha256);
    EXPECT_TRUE(dlg->RebuildWanted());
}

TEST_F(StationWindowTest, AnImageOtherThanTheExpectedOneIsRefusedShowingBothHashes) {
    const std::string expected(64, 'a');
    settings.sha256 = expected;
    Open();
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    LoadedImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(settings.image, image, error));
    EXPECT_NE(boxes[0].find(expected), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find(image.sha256), std::string::npos) << boxes[0];
    EXPECT_FALSE(Enabled(IDC_ST_START));
    EXPECT_FALSE(headless::Click(*dlg, IDC_ST_START));
}

// The scanner types a line and Enter: a position's label, then its unit's.
// The ID goes to that position's next unit, and its record carries it; a
// unit's label without a position's first, a position that is not there,
// and an ID that cannot be one are refused, with why.
TEST_F(StationWindowTest, AScannerBindsAUnitIdToThePositionScannedFirst) {
    settings.requireScan = true;
    Open();
    auto scan = [&](const std::string& text) {
        dlg->SetDlgItemText(IDC_ST_SCAN, text.c_str());
        dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_SCAN), "") << "ready for the next scan";
        return dlg->GetDlgItemText(IDC_ST_SCAN_NOTE);
    };
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_START));
    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_STATE) == "Waiting for a scan"; }));
    EXPECT_EQ(scan("UNIT-7"), "Refused: scan the position's label first, then the unit's");
    EXPECT_EQ(scan("POS-03"), "Refused: there is no position 3 here");
    EXPECT_EQ(scan("pos 1"), "Position 1: now scan its unit's label");
    EXPECT_EQ(scan(std::string(65, 'U')),
              "Refused: a unit ID of 65 characters (at most 64) (scan the position's label again)");
    EXPECT_EQ(Panel(0, PANEL_STATE), "Waiting for a scan");
    EXPECT_EQ(scan("P1"), "Position 1: now scan its unit's label");
    EXPECT_EQ(scan("  UNIT-0001 "), "Position 1: unit UNIT-0001");
    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_RESULT) == "PASS"; }));
    EXPECT_NE(Panel(0, PANEL_REASON).find("unit UNIT-0001"), std::string::npos)
        << Panel(0, PANEL_REASON);
    EXPECT_EQ(Panel(1, PANEL_STATE), "Waiting for a scan") << "nothing scanned there";
    const std::string records = (dir.path() / "units.jsonl").string();
    std::ifstream in(records);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find("\"unit_id\":\"UNIT-0001\""), std::string::npos) << line;
}

TEST_F(StationWindowTest, AnEmptyImageIsRefusedWithTheReason) {
    settings.image = dir.Write("EMPTY.UPL", {}).string();
    settings.sha256.clear();
    Open();
    const auto boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("reading " + settings.image + ": the file is empty, not an image"),
              std::string::npos)
        << boxes[0];
    EXPECT_FALSE(Enabled(IDC_ST_START));
}

TEST_F(StationWindowTest, StopFinishesTheUnitThenStopNowAsksFirst) {
    Open();
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_START));
    ASSERT_TRUE(RunUntil([&] { return Panel(0, PANEL_STATE) == "Programming"; }));

    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_STOP));
    headless::Advance(kStationTickMs);  // the window's next tick
    EXPECT_EQ(Panel(1, PANEL_STATE), "Stopped") << "a waiting position stops at once";
    EXPECT_EQ(Panel(0, PANEL_STATE), "Programming, then stopping");
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_STOP), "Stop Now...");

    headless::ScriptMessageBox([](const std::string&) { return IDNO; });
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_STOP));
    EXPECT_TRUE(dlg->GetStation()->Running());

    headless::ScriptMessageBox([](const std::string&) { return IDYES; });
    ASSERT_TRUE(headless::Click(*dlg, IDC_ST_STOP));
    ASSERT_TRUE(RunUntil([&] { return !dlg->GetStation()->Running(); }, 1000));
    EXPECT_EQ(Panel(0, PANEL_RESULT), "STOP");
    EXPECT_EQ(Panel(0, PANEL_COUNTS), "Passed 0    Failed 0");
    EXPECT_TRUE(Enabled(IDC_ST_START));
    EXPECT_EQ(memory::OpenPortCount(), 0);
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}

TEST_F(StationWindowTest, ClosingWithAUnitUnderWayAsksThenStopsEverythingBeforeItEnds) {
    constexpr INT_PTR kStillOpen = 999;
    dlg = std::make_unique<CStationDlg>(settings, "", true);
    app.m_pMainWnd = dlg.get();
    bool askedFirst = false;
    headless::ScriptModal([&](CDialog& window) -> INT_PTR {
        headless::Advance(50);
        headless::Click(window, IDC_ST_START);
        headless::Advance(1500);
        if (!dlg->GetStation()->UnitsUnderWay()) {
            return kStillOpen;
        }
        headless::ScriptMessageBox([](const std::string&) { return IDNO; });
        headless::SystemCommand(window, SC_CLOSE);
        askedFirst = dlg->GetStation()->Running() && headless::MessageBoxes().size() == 1;
        headless::ScriptMessageBox([](const std::string&) { return IDYES; });
        headless::SystemCommand(window, SC_CLOSE);
        headless::Advance(500);
        return kStillOpen;
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_TRUE(askedFirst);
    EXPECT_FALSE(dlg->GetStation()->Running());
    EXPECT_EQ(memory::OpenPortCount(), 0);
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}

}  // namespace
