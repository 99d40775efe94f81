// download-cli's station (station/station.h): without --parallel one
// position, with it every --port a fixture position of its own, each on a
// thread of its own. With --loop each position programs a unit, records
// it, and waits for the next unit on its own port, never for the other
// positions.
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

// Runs download-cli's station until each position has ended: without
// --parallel one position that scans every --port (or the platform's
// list), with it one position a port; without --loop one unit each, with
// it unit after unit until an interrupt or a record that failed. Reads the
// image and opens the record file first. board: the terminal redraws in
// place (the --parallel --loop board); terminal: standard output is one
// (the bar of a unit programmed alone). Returns the exit status: 2 when the
// image or the record file cannot be used; without --loop the worst of the
// units', with --loop 0 when every unit was done and 1 otherwise, or 128 +
// the signal when an interrupt stopped it at once; 9 whenever a record
// could not be written.
int RunStation(const CliOptions& o, bool board, bool terminal);
