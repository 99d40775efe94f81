// The station window on GTK 3: four fixture positions, each a target-sim
// on a pseudo-terminal, programmed at once through the real window.
#include "tests/gtk/gtk_support.h"  // first: see there

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "image/stored_image.h"
#include "tests/test_records.h"
#include "ui/station_dlg.h"
#include "ui/station_layout.h"

namespace {

constexpr MachineType kType = 2;
constexpr int kPositions = 4;

// The devices among `devices` that descriptors of ours are open on, once
// for each descriptor, in order.
std::vector<std::string> OpenOn(const std::vector<std::string>& devices) {
    std::vector<std::string> found;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (!error && std::find(devices.begin(), devices.end(), target) != devices.end()) {
            found.push_back(target);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// A folder of the test's own with a short name, as the window shows the
// paths in it (TempDir's names carry the test's name).
struct ShortTempDir {
    ShortTempDir() { std::filesystem::create_directories(path); }
    ~ShortTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    const std::filesystem::path path = UniqueTempPath("station");
};

}  // namespace

// Three machines take the image whole and one stops its download: the
// panels, the day's totals and the record file say so, and Stop leaves no
// port open and no worker running.
//
// Each position's port is a link, as the names in /dev/serial/by-id are,
// first to its machine's device. A position goes on to the next unit once
// one ends, and a machine waits for a new opening request after its
// download, so it would be programmed again and again. As soon as a
// position's machine has answered, its link is therefore pointed at an
// empty fixture, a pseudo-terminal where nothing answers: the download
// under way goes on over the port already open, and the next scan finds no
// unit. Each position programs exactly one unit, however the downloads
// interleave. (The links are the test's own, not target-sim's --link:
// target-sim removes its link when it ends, whatever the link then leads
// to.)
//
// With DT_SCREENSHOT_STATION set, a picture of the window mid-run (position
// 1 passed, position 4 failed, the others as they stand) is saved there.
TEST(StationWindowGtkTest, FourPositionsProgramTheirUnitsAndRecordThem) {
    ShortTempDir dir;
    CWinApp app;
    const Bytes image = Pattern(8192, 7);  // 64 blocks
    StationSettings settings;
    settings.type = kType;
    settings.image = (dir.path / ("fw" + StoredFileSuffix(kType))).string();
    WriteBytes(settings.image, StoredImage(kType, image));
    settings.record = (dir.path / "units.jsonl").string();

    // Position 1 soon passes, 2 and 3 take longer, 4 is stopped by its
    // machine early on.
    const std::vector<std::vector<std::string>> machines = {
        {"--turnaround", "8"},
        {"--turnaround", "40"},
        {"--turnaround", "60"},
        {"--turnaround", "40", "--stop-at", "20"}};
    std::vector<TargetSim> sims(kPositions);
    std::vector<std::unique_ptr<PtyPair>> empty;
    std::vector<std::string> devices;
    for (int i = 0; i < kPositions; ++i) {
        const std::string link = (dir.path / ("ttyUSB" + std::to_string(i))).string();
        std::vector<std::string> args = machines[i];
        args.push_back("--stored");
        devices.push_back(sims[i].Start(kType, args, settings.image));
        ASSERT_FALSE(devices.back().empty());
        ASSERT_EQ(symlink(devices.back().c_str(), link.c_str()), 0) << link;
        settings.ports.push_back(link);
        empty.push_back(std::make_unique<PtyPair>());
    }

    auto dlg = std::make_unique<CStationDlg>(settings, "", false);
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create());
    ASSERT_TRUE(gtkdrv::WaitMapped(*dlg));
    const auto panel = [&](int index, int field) {
        return gtkdrv::ShownText(*dlg, PanelControlId(index, field));
    };
    // A thread for each position, and a worker for each port open: all of
    // them end with the window.
    const int threadsShown = OwnThreadCount();

    // Runs the loop until done(), taking each unit out of its fixture once
    // its machine has answered.
    std::vector<bool> taken(kPositions, false);
    const auto run = [&](const std::function<bool()>& done, int timeoutMs) {
        return gtkdrv::PumpUntil(
            [&] {
                for (int i = 0; i < kPositions; ++i) {
                    const PositionState state = dlg->GetStation()->Positions()[i].state;
                    if (!taken[i] && (state == PositionState::Programming ||
                                      state == PositionState::Finishing)) {
                        const std::string link = settings.ports[i];
                        EXPECT_EQ(symlink(empty[i]->Path().c_str(), (link + ".new").c_str()), 0);
                        EXPECT_EQ(rename((link + ".new").c_str(), link.c_str()), 0);
                        taken[i] = true;
                    }
                }
                return done();
            },
            timeoutMs);
    };
    const auto shows = [&](const std::vector<std::string>& results) {
        for (int i = 0; i < kPositions; ++i) {
            if (!results[i].empty() && panel(i, PANEL_RESULT) != results[i]) {
                return false;
            }
        }
        return true;
    };

    ASSERT_TRUE(gtkdrv::Click(*dlg, IDC_ST_START));
    if (const char* keep = std::getenv("DT_SCREENSHOT_STATION")) {
        ASSERT_TRUE(run([&] { return shows({"PASS", "", "", "FAIL"}); }, 60000));
        run([] { return false; }, 150);  // drawn as it stands
        EXPECT_TRUE(gtkdrv::SaveScreenshot(gtkdrv::WindowOf(*dlg), keep)) << keep;
    }
    ASSERT_TRUE(run(
        [&] {
            return shows({"PASS", "PASS", "PASS", "FAIL"});
        },
        60000))
        << "results shown: " << panel(0, PANEL_RESULT) << ", " << panel(1, PANEL_RESULT) << ", "
        << panel(2, PANEL_RESULT) << ", " << panel(3, PANEL_RESULT);
    // Each position has gone back to waiting for its next unit.
    const auto states = [&] {
        std::string all;
        for (int i = 0; i < kPositions; ++i) {
            all += (i ? ", " : "") + panel(i, PANEL_STATE);
        }
        return all;
    };
    const std::string waiting = "Waiting for a unit";
    ASSERT_TRUE(
        run([&] { return states() == waiting + ", " + waiting + ", " + waiting + ", " + waiting; },
            10000))
        << states();
    for (int i = 0; i < kPositions; ++i) {
        EXPECT_EQ(panel(i, PANEL_COUNTS), i < 3 ? "Passed 1    Failed 0" : "Passed 0    Failed 1")
            << "position " << i + 1;
        EXPECT_EQ(panel(i, PANEL_PERCENT), "") << "position " << i + 1;
    }
    EXPECT_EQ(panel(3, PANEL_REASON).rfind("Stopped: ", 0), 0u) << panel(3, PANEL_REASON);
    EXPECT_EQ(gtkdrv::ShownText(*dlg, IDC_ST_TOTALS), "Today: 3 passed, 1 failed");

    // Stop: every position is waiting, so all stop at once.
    ASSERT_TRUE(gtkdrv::Click(*dlg, IDC_ST_STOP));
    ASSERT_TRUE(run([&] { return !dlg->GetStation()->Running(); }, 5000));
    for (int i = 0; i < kPositions; ++i) {
        EXPECT_EQ(panel(i, PANEL_STATE), "Stopped") << "position " << i + 1;
    }
    EXPECT_TRUE(gtk_widget_get_sensitive(gtkdrv::ControlOf(*dlg, IDC_ST_START)));

    const auto records = ReadRecords(settings.record);
    ASSERT_EQ(records.size(), 4u) << "one unit a position";
    std::map<std::string, std::pair<std::string, std::string>> byPosition;
    for (const auto& r : records) {
        byPosition[r.at("position")] = {r.at("result"), r.at("port")};
    }
    EXPECT_EQ(byPosition, (std::map<std::string, std::pair<std::string, std::string>>{
                              {"1", {"done", settings.ports[0]}},
                              {"2", {"done", settings.ports[1]}},
                              {"3", {"done", settings.ports[2]}},
                              {"4", {"stopped", settings.ports[3]}}}));

    // Every port closed: the machines', and the empty fixtures' but for the
    // test's own end of each.
    std::vector<std::string> ports = devices, ownEnds;
    for (const auto& pty : empty) {
        ports.push_back(pty->Path());
        ownEnds.push_back(pty->Path());
    }
    std::sort(ownEnds.begin(), ownEnds.end());
    EXPECT_EQ(OpenOn(ports), ownEnds);

    dlg->DestroyWindow();
    dlg.reset();
    app.m_pMainWnd = nullptr;
    EXPECT_TRUE(
        gtkdrv::PumpUntil([&] { return OwnThreadCount() <= threadsShown - kPositions; }, 5000))
        << OwnThreadCount() << " threads of ours, " << threadsShown << " with the window";
    for (int i = 0; i < kPositions; ++i) {
        std::string outcome;
        const bool whole = sims[i].Stop(&outcome);
        EXPECT_EQ(whole, i < 3) << "position " << i + 1 << ": " << outcome;
    }
    for (const std::string& mishap : gtkdrv::Mishaps()) {
        ADD_FAILURE() << mishap;
    }
}

// A held adapter holds only its own position: position 2's machine holds
// the line after two blocks, so its next block cannot be written for
// 13.4 s (100 ms a byte and 100 ms), while position 1's whole download
// takes some 3 s at 9600 baud, with a silence limit of 3 s. Had the held
// write held the window's thread, position 1 would have fallen silent.
// The held unit's record gives the time it really took.
TEST(StationWindowGtkTest, AHeldPortHoldsOnlyItsOwnPosition) {
    ShortTempDir dir;
    CWinApp app;
    constexpr MachineType kBlockType = 1;
    StationSettings settings;
    settings.type = kBlockType;
    settings.image = (dir.path / ("fw" + StoredFileSuffix(kBlockType))).string();
    WriteBytes(settings.image, StoredImage(kBlockType, Pattern(3000, 9)));
    settings.record = (dir.path / "units.jsonl").string();
    settings.timeoutSeconds = 3;
    std::vector<TargetSim> sims(2);
    settings.ports.push_back(sims[0].Start(kBlockType, {"--baud", "9600"}, settings.image));
    settings.ports.push_back(sims[1].Start(kBlockType, {"--hold-after", "2"}, settings.image));
    ASSERT_FALSE(settings.ports[0].empty() || settings.ports[1].empty());

    auto dlg = std::make_unique<CStationDlg>(settings, "", false);
    app.m_pMainWnd = dlg.get();
    ASSERT_TRUE(dlg->Create());
    ASSERT_TRUE(gtkdrv::WaitMapped(*dlg));
    const auto result = [&](int index) {
        return gtkdrv::ShownText(*dlg, PanelControlId(index, PANEL_RESULT));
    };
    ASSERT_TRUE(gtkdrv::Click(*dlg, IDC_ST_START));
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return result(0) != "" && result(1) != ""; }, 60000))
        << result(0) << ", " << result(1);

    const auto records = ReadRecords(settings.record);
    std::map<std::string, std::map<std::string, std::string>> first;
    for (const auto& r : records) {
        first.emplace(r.at("position"), r);
    }
    ASSERT_EQ(first.size(), 2u) << records.size() << " records";
    EXPECT_EQ(first["1"].at("result"), "done") << first["1"].at("reason");
    EXPECT_EQ(first["2"].at("result"), "port refused") << first["2"].at("reason");
    EXPECT_GE(std::stod(first["2"].at("seconds")), 13.4);

    dlg->DestroyWindow();
    dlg.reset();
    app.m_pMainWnd = nullptr;
}
