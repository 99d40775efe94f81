// The station's positions on in-memory lines and the virtual clock: each
// position's loop, its records and counts, and stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "framework/headless/headless.h"
#include "image/stored_image.h"
#include "serial/memory/memory_line.h"
#include "station/position_words.h"
#include "station/station.h"
#include "tests/station_fixture.h"
#include "tools/sim/memory_device.h"
#include "ui/unit_runner.h"

namespace {

TEST_F(StationTest, EachPositionEndsItsUnitItsOwnWayAtTheSameTime) {
    // Done, the stop frame, silence and a lost port, on four positions.
    SimulatedDevice done(kType), stopped(kType, SimFaults{.stopAtBlock = 5}),
        silent(kType, SimFaults{.muteAfterBlock = 4}),
        lost(kType, SimFaults{.vanishAfterBlock = 6});
    settings.ports = {"COM1", "COM2", "COM3", "COM4"};
    events.lines[0] = &done.AttachTo("COM1");
    events.lines[1] = &stopped.AttachTo("COM2");
    events.lines[2] = &silent.AttachTo("COM3");
    events.lines[3] = &lost.AttachTo("COM4");

    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    EXPECT_TRUE(station->Running());

    const auto allRecorded = [&] {
        const auto& p = station->Positions();
        return std::all_of(p.begin(), p.end(), [](const PositionView& v) { return v.last; });
    };
    ASSERT_TRUE(RunUntil(allRecorded));

    const UnitResult expected[] = {UnitResult::Done, UnitResult::Stopped, UnitResult::Silent,
                                   UnitResult::PortLost};
    for (std::size_t i = 0; i < 4; ++i) {
        const PositionView& v = station->Positions()[i];
        EXPECT_EQ(v.last->result, expected[i]) << "position " << v.number;
        EXPECT_EQ(v.counts, (i == 0 ? PositionCounts{1, 0} : PositionCounts{0, 1}));
        // Every position goes on waiting for its next unit.
        EXPECT_EQ(v.state, PositionState::Waiting);
    }
    EXPECT_EQ(station->Totals(), (PositionCounts{1, 3}));
    EXPECT_EQ(events.recordFailures, std::vector<std::string>{});

    const auto records = Records();
    ASSERT_EQ(records.size(), 4u);
    std::map<std::string, std::string> resultOf;
    for (const auto& r : records) {
        resultOf[r.at("position")] = r.at("result");
        EXPECT_EQ(r.at("type"), "1");
        EXPECT_EQ(r.at("image"), "fw.UPL");
        EXPECT_EQ(r.at("port"), "COM" + r.at("position"));
    }
    EXPECT_EQ(resultOf, (std::map<std::string, std::string>{
                            {"1", "done"}, {"2", "stopped"}, {"3", "silent"}, {"4", "port lost"}}));

    // Stop: the waiting positions stop at once and close their ports.
    station->Stop();
    ASSERT_TRUE(RunUntil([&] { return !station->Running(); }, 1000));
    for (const PositionView& v : station->Positions()) {
        EXPECT_EQ(v.state, PositionState::Stopped);
    }
    EXPECT_EQ(memory::OpenPortCount(), 0);
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
    EXPECT_EQ(Records().size(), 4u) << "a wait is not a unit";

    // A restart reads the day's counts back from the record file.
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, nullptr);
    ASSERT_TRUE(station->Open(error)) << error;
    EXPECT_EQ(station->Positions()[0].counts, (PositionCounts{1, 0}));
    EXPECT_EQ(station->Positions()[3].counts, (PositionCounts{0, 1}));
    EXPECT_EQ(station->Totals(), (PositionCounts{1, 3}));
}

// The station file keeps a port as written; each position opens it by the
// name that opens it. The in-memory lines are named as Windows opens its
// COM ports, so "COM12" alone would find nothing, as on Windows.
TEST_F(StationTest, EachPositionOpensItsPortByItsNormalNameHoweverItIsWritten) {
    SimulatedDevice a(kType), b(kType), c(kType);
    settings.ports = {"com3", "COM12", "\\\\.\\com4"};
    events.lines[0] = &a.AttachTo("COM3");
    events.lines[1] = &b.AttachTo("\\\\.\\COM12");
    events.lines[2] = &c.AttachTo("COM4");
    const std::vector<std::string> opened = {"COM3", "\\\\.\\COM12", "COM4"};

    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    const auto allRecorded = [&] {
        const auto& p = station->Positions();
        return std::all_of(p.begin(), p.end(), [](const PositionView& v) { return v.last; });
    };
    ASSERT_TRUE(RunUntil(allRecorded));
    for (std::size_t i = 0; i < opened.size(); ++i) {
        const PositionView& v = station->Positions()[i];
        EXPECT_EQ(v.port, opened[i]);
        EXPECT_EQ(v.last->result, UnitResult::Done) << v.port;
    }
    EXPECT_EQ(station->Settings().ports, settings.ports) << "the settings stay as written";
    for (const auto& r : Records()) {
        EXPECT_EQ(r.at("port"), opened.at(std::stoul(r.at("position")) - 1));
    }
    EXPECT_EQ(Records().size(), opened.size());
}

class StationStop : public StationTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StationStop, StopLetsTheUnitUnderWayFinishAndStopNowDoesNot) {
    const bool atOnce = GetParam();
    SimulatedDevice machine(kType);
    machine.machine.turnaroundMs = 50;  // a download of some 800 ms, to stop in the middle
    settings.ports = {"COM1", "COM2"};  // COM2: nothing attached, only waiting
    events.lines[0] = &machine.AttachTo("COM1");
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    ASSERT_TRUE(RunUntil([&] { return station->Positions()[0].percent >= 20; }));
    EXPECT_EQ(station->UnitsUnderWay(), 1);

    atOnce ? station->StopNow() : station->Stop();
    // A position only waiting stops on its next turn, before the next step.
    headless::Advance(0);
    station->Step();
    EXPECT_EQ(station->Positions()[1].state, PositionState::Stopped);
    ASSERT_TRUE(RunUntil([&] { return !station->Running(); }));
    const PositionView& v = station->Positions()[0];
    ASSERT_TRUE(v.last);
    EXPECT_EQ(v.last->result, atOnce ? UnitResult::Interrupted : UnitResult::Done);
    // A unit stopped at once is recorded, but counts neither way.
    EXPECT_EQ(v.counts, (atOnce ? PositionCounts{0, 0} : PositionCounts{1, 0}));
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at("result"), atOnce ? "interrupted" : "done");
    EXPECT_EQ(memory::OpenPortCount(), 0);
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Both, StationStop, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "AtOnce" : "Finishing"; });

// Two positions whose names lead to one device when the station starts:
// the second is not started, and says with which position it collides;
// the first programs its unit.
TEST_F(StationTest, TwoNamesForOneDeviceStartOnlyTheFirst) {
    SimulatedDevice machine(kType);
    settings.ports = {"COM3", "\\\\.\\com3"};
    events.lines[0] = &machine.AttachTo("COM3");
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    station->Step();
    const PositionView& second = station->Positions()[1];
    EXPECT_EQ(second.state, PositionState::Stopped);
    EXPECT_EQ(StateWords(second),
              "Stopped: not started: \\\\.\\com3 is COM3, position 1's port COM3");
    ASSERT_TRUE(RunUntil([&] { return station->Positions()[0].last.has_value(); }));
    EXPECT_EQ(station->Positions()[0].last->result, UnitResult::Done);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at("position"), "1");
}

// The day changes while no unit ends: the counts start again on time, from
// the new day's records (none), and a day's records count for that day only.
TEST_F(StationTest, TheCountsStartAgainAtMidnightWithoutAUnit) {
    SimulatedDevice machine(kType);
    settings.ports = {"COM1"};
    events.lines[0] = &machine.AttachTo("COM1");
    std::atomic<int> daysAhead{0};
    StationOptions options;
    options.today = [&daysAhead] {
        DayCountRules rules = TodaysCountRules();
        rules.day = std::chrono::sys_days{rules.day} + std::chrono::days{daysAhead.load()};
        return rules;
    };
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events, options);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    ASSERT_TRUE(RunUntil([&] { return station->Positions()[0].last.has_value(); }));
    EXPECT_EQ(station->Totals(), (PositionCounts{1, 0}));

    daysAhead = 1;
    ASSERT_TRUE(RunUntil([&] { return station->Totals() == PositionCounts{}; }, 1000));
    EXPECT_EQ(station->Positions()[0].counts, PositionCounts{});
    EXPECT_TRUE(station->Positions()[0].last.has_value()) << "the last unit is still shown";
}

// A limit of three units with two positions programming one unit after
// another: exactly three are done, never a fourth under way; the station
// stops by itself and says why, and a restart counts them back and does
// not start.
TEST_F(StationTest, ALimitIsNeverOvershotAndHoldsAcrossARestart) {
    SimulatedDevice first(kType), second(kType);
    first.AttachTo("COM1");
    second.AttachTo("COM2");
    settings.ports = {"COM1", "COM2"};
    settings.limit = 3;
    class Limit : public StationEvents {
      public:
        void LimitReached() override { ++reached; }
        int reached = 0;
    } limit;
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &limit);
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    ASSERT_TRUE(RunUntil([&] { return !station->Running(); }));
    EXPECT_EQ(limit.reached, 1);
    EXPECT_EQ(station->DoneInFile(), 3);
    EXPECT_EQ(station->Totals(), (PositionCounts{3, 0}));
    const auto records = Records();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& r : records) {
        EXPECT_EQ(r.at("result"), "done");
    }
    bool toldWhy = false;
    for (const PositionView& v : station->Positions()) {
        toldWhy = toldWhy || StateWords(v) == "Stopped: the limit of 3 units is reached" ||
                  StateWords(v) ==
                      "Stopped: the limit's last units are under way at other "
                      "positions";
    }
    EXPECT_TRUE(toldWhy);

    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, nullptr);
    ASSERT_TRUE(station->Open(error)) << error;
    EXPECT_EQ(station->DoneInFile(), 3);
    EXPECT_FALSE(station->Start(error));
    EXPECT_EQ(error, "the limit of 3 units is reached (3 done)");
    EXPECT_FALSE(station->Running());
}

// Serial numbers 100 to 104 over two positions, one of whose machines
// stops every download: each number is written into the bytes its unit
// receives; no number goes to two units done; a failed unit's number goes
// to a later unit; the last number stops the station, before any unit
// would answer without one; a restart gives no number again.
TEST_F(StationTest, SerialNumbersAreWrittenIntoEachUnitAndNeverGivenTwice) {
    SimulatedDevice good(kType), failing(kType, SimFaults{.stopAtBlock = 3});
    good.AttachTo("COM1");
    failing.AttachTo("COM2");
    settings.ports = {"COM1", "COM2"};
    settings.serial.enabled = true;
    settings.serial.first = 100;
    settings.serial.last = 104;
    settings.serial.offset = 300;  // in the third block of 128
    ASSERT_TRUE(ParseSerialFormat("dec:6", settings.serial));
    class UsedUp : public StationEvents {
      public:
        void SerialsUsedUp() override { ++told; }
        int told = 0;
    } usedUp;
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &usedUp);
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    ASSERT_TRUE(RunUntil([&] { return !station->Running(); }, 300000))
        << StateWords(station->Positions()[0]) << " / " << StateWords(station->Positions()[1])
        << " / " << Records().size() << " records";
    EXPECT_EQ(usedUp.told, 1);

    std::map<std::string, int> done;  // serial: units done with it
    std::vector<std::string> failedSerials;
    for (const auto& r : Records()) {
        ASSERT_TRUE(r.count("unit_serial")) << "every unit that answered has a number";
        EXPECT_EQ(r.count("sent_sha256"), 1u);
        if (r.at("result") == "done") {
            ++done[r.at("unit_serial")];
        } else {
            failedSerials.push_back(r.at("unit_serial"));
        }
    }
    EXPECT_EQ(done, (std::map<std::string, int>{
                        {"100", 1}, {"101", 1}, {"102", 1}, {"103", 1}, {"104", 1}}));
    ASSERT_FALSE(failedSerials.empty());
    for (const std::string& serial : failedSerials) {
        EXPECT_TRUE(done.count(serial)) << serial << " was not given to a later unit";
    }
    // The last unit done at position 1 received its own number, and the
    // rest of the image as it is.
    const PositionView& first = station->Positions()[0];
    ASSERT_TRUE(first.last && first.last->serial);
    const Bytes received = good.machine.Received();
    ASSERT_GE(received.size(), 306u);
    const std::string written(received.begin() + 300, received.begin() + 306);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%06llu",
                  static_cast<unsigned long long>(*first.last->serial));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(ReasonWords(first).find("serial " + std::to_string(*first.last->serial)) !=
                  std::string::npos,
              true)
        << ReasonWords(first);

    // A restart: nothing left to give, and it says so.
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, nullptr);
    ASSERT_TRUE(station->Open(error)) << error;
    EXPECT_FALSE(station->Start(error));
    EXPECT_EQ(error, "the serial numbers are used up (the last is 104)");
}

// A station that wants a scan: a position programs nothing until its unit's
// ID is bound, then the unit that answers takes it, and its record carries
// it. IDs that cannot be labels are refused, with the reason.
TEST_F(StationTest, AScannedIdIsBoundToItsPositionsNextUnit) {
    SimulatedDevice first(kType), second(kType);
    events.lines[0] = &first.AttachTo("COM1");
    events.lines[1] = &second.AttachTo("COM2");
    settings.ports = {"COM1", "COM2"};
    settings.requireScan = true;
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, &events);
    events.station = station.get();
    std::string error;
    ASSERT_TRUE(station->Open(error)) << error;
    ASSERT_TRUE(station->Start(error)) << error;
    ASSERT_TRUE(RunUntil([&] {
        return station->Positions()[0].state == PositionState::WaitingForScan &&
               station->Positions()[1].state == PositionState::WaitingForScan;
    }));
    EXPECT_EQ(StateWords(station->Positions()[0]), "Waiting for a scan");
    headless::Advance(5000);
    EXPECT_TRUE(Records().empty()) << "nothing programmed without a scan";

    const struct {
        std::string id, reason;
    } refused[] = {{"", "an empty unit ID"},
                   {std::string(65, 'A'), "a unit ID of 65 characters (at most 64)"},
                   {"SN\t1", "a unit ID with a character that is not printable"},
                   {"SN\xC3\xA9", "a unit ID with a character that is not printable"}};
    for (const auto& r : refused) {
        EXPECT_FALSE(station->BindUnitId(0, r.id, error));
        EXPECT_EQ(error, r.reason);
    }
    EXPECT_FALSE(station->BindUnitId(2, "SN-1", error));
    EXPECT_EQ(error, "no position 3");

    ASSERT_TRUE(station->BindUnitId(1, "SN-0002", error)) << error;
    ASSERT_TRUE(RunUntil([&] { return station->Positions()[1].last.has_value(); }));
    EXPECT_EQ(station->Positions()[0].state, PositionState::WaitingForScan);
    ASSERT_TRUE(station->BindUnitId(0, std::string(64, 'X'), error)) << error;
    ASSERT_TRUE(RunUntil([&] { return station->Positions()[0].last.has_value(); }));

    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    std::map<std::string, std::string> idOf;
    for (const auto& r : records) {
        idOf[r.at("position")] = r.at("unit_id");
    }
    EXPECT_EQ(idOf,
              (std::map<std::string, std::string>{{"1", std::string(64, 'X')}, {"2", "SN-0002"}}));
    EXPECT_NE(ReasonWords(station->Positions()[1]).find("unit SN-0002"), std::string::npos);
}

TEST_F(StationTest, ARecordFileThatCannotBeOpenedIsRefusedBeforeAnyStart) {
    settings.ports = {"COM1"};
    settings.record = (dir.path() / "no-such-folder" / "units.jsonl").string();
    station = std::make_unique<Station>(settings, image, &UnitRunner::Make, nullptr);
    std::string error;
    EXPECT_FALSE(station->Open(error));
    EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
}

}  // namespace
