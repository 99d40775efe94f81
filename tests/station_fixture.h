// A station on in-memory lines and the virtual clock, stepped as the
// window's timer steps it, with a record file in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/headless/headless.h"
#include "image/stored_image.h"
#include "serial/memory/memory_line.h"
#include "station/station.h"
#include "tests/test_data.h"
#include "tests/test_records.h"
#include "tools/sim/memory_device.h"
#include "ui/unit_runner.h"

constexpr MachineType kType = 1;  // the block protocol

// Takes a position's line away once its first unit is recorded, so that
// each position programs exactly one unit and then waits.
class OneUnitEach : public StationEvents {
  public:
    void PositionChanged(std::size_t index) override {
        if (station && station->Positions()[index].last && !hungUp[index]) {
            hungUp[index] = true;
            if (lines[index]) {
                lines[index]->Hangup();
            }
        }
    }
    void RecordFailed(const std::string& message) override { recordFailures.push_back(message); }

    Station* station = nullptr;
    std::map<std::size_t, memory::Line*> lines;
    std::map<std::size_t, bool> hungUp;
    std::vector<std::string> recordFailures;
};

class StationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Reset();
        memory::DetachAll();
        image.bytes = StoredImage(kType, Pattern(2048, 7));
        image.fileSize = image.bytes.size();
        image.sha256 = "00";
        settings.type = kType;
        settings.image = "fw.UPL";
        settings.record = (dir.path() / "units.jsonl").string();
        settings.timeoutSeconds = 3;
    }
    void TearDown() override {
        station.reset();
        memory::DetachAll();
        headless::Reset();
    }

    // Steps the station as the window's timer does, until done() or the
    // limit of virtual time.
    bool RunUntil(const std::function<bool()>& done, std::uint64_t limitMs = 60000) {
        for (std::uint64_t t = 0; t < limitMs; t += 100) {
            station->Step();
            if (done()) {
                return true;
            }
            headless::Advance(100);
        }
        return false;
    }

    std::vector<std::map<std::string, std::string>> Records() const {
        return ReadRecords(settings.record);
    }

    TempDir dir{"station"};
    CWinApp app;
    LoadedImage image;
    StationSettings settings;
    OneUnitEach events;
    std::unique_ptr<Station> station;
};
