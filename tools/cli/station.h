// A production station: with --parallel every --port is a fixture position
// of the station (station/station.h), each on a thread of its own. With
// --loop each position programs a unit, records it, and waits for the next
// unit on its own port, never for the other positions.
//
// What the operator sees: on a terminal, a board of one line per position
// (its port, state, percent, last result, its counts) and the station's
// counts, redrawn in place under the results as they come; elsewhere, a
// line per result and per count, each led by its position. With --json
// every event carries "position", numbered from 1 in the order of --port.
//
// Interrupts: the first Ctrl+C (with --loop) lets the units under way
// finish, and positions waiting for a unit stop at once; a second Ctrl+C,
// or SIGTERM, stops every position at once (interrupts.h).
#pragma once

#include <functional>

#include "tools/cli/cli_options.h"
#include "tools/cli/unit.h"

// Opens the record file (--record), then serves every --port until each
// position has ended (without --loop, after one unit; with it, after an
// interrupt or a record that failed). Returns the exit status: 2 when the
// record file cannot be opened; without --loop the worst of the units',
// with --loop 0 when every unit was done and 1 otherwise, or 128 + the
// signal when an interrupt stopped it at once; 9 whenever a record could
// not be written.
int RunStation(const CliOptions& o, const LoadedImage& image, bool terminal);
