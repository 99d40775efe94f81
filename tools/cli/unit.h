// download-cli's units: the runners of station/unit_runner.h on the
// headless framework, run in real time, and what a unit's ending means for
// the program's exit status.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "station/unit_runner.h"
#include "tools/cli/cli_options.h"

// Exit statuses of the run as a whole, beside the units' own: bad
// arguments (an unreadable image, a record file that cannot be opened), and
// a record line that could not be written.
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitRecordFailed = 9;

// The exit status of a unit: its result's, or 128 + signal when an
// interrupt ended it.
int ExitStatusOf(const UnitOutcome& u, int signal);

// What the command line asks of every unit; writes give up at once after
// an interrupt that stops the program at once (interrupts.h).
UnitSettings UnitSettingsOf(const CliOptions& o);

// Serves the units on the headless clock in real time until each has
// finished. stopSignal() is asked between steps (at least every 50 ms):
// nonzero ends every unit still going as interrupted, with
// interruptReason(signal). finished(i) is called once as unit i ends.
void RunUnits(const std::vector<UnitRunner*>& units, const std::function<int()>& stopSignal,
              const std::function<std::string(int)>& interruptReason,
              const std::function<void(std::size_t)>& finished);
