// download-cli's units on the headless framework in real time.
#include "tools/cli/unit.h"

#include "framework/headless/headless.h"
#include "tools/cli/interrupts.h"

int ExitStatusOf(const UnitOutcome& u, int signal) {
    return u.result == UnitResult::Interrupted ? 128 + signal : static_cast<int>(u.result);
}

UnitSettings UnitSettingsOf(const CliOptions& o) {
    return UnitSettings{o.type, o.timeoutSeconds, o.fast, StopNowFlag()};
}

void RunUnits(const std::vector<UnitRunner*>& units, const std::function<int()>& stopSignal,
              const std::function<std::string(int)>& interruptReason,
              const std::function<void(std::size_t)>& finished) {
    std::vector<bool> told(units.size(), false);
    auto allDone = [&] {
        if (const int signal = stopSignal()) {
            for (UnitRunner* unit : units) {
                unit->Interrupt(interruptReason(signal));
            }
        }
        bool all = true;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (!units[i]->Finished()) {
                all = false;
            } else if (!told[i]) {
                told[i] = true;
                if (finished) {
                    finished(i);
                }
            }
        }
        return all;
    };
    // The scan is bounded by the port list (two seconds a port at most); the
    // download by the silence timeout. The outer limit is a safety net.
    const std::uint64_t limitMs = 3600 * 1000;
    if (!headless::RunInRealTime(allDone, limitMs)) {
        for (UnitRunner* unit : units) {
            if (!unit->Finished()) {
                unit->GiveUp();
            }
        }
        allDone();
    }
}
