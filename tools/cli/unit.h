// What a unit's ending means for download-cli's exit status.
#pragma once

#include "station/unit.h"

// Exit statuses of the run as a whole, beside the units' own: bad
// arguments (an unreadable image, a record file that cannot be opened), and
// a record line that could not be written.
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitRecordFailed = 9;

// The exit status of a unit: its result's, or 128 + signal when an
// interrupt ended it.
int ExitStatusOf(const UnitOutcome& u, int signal);
