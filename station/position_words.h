// The words for a position, in one place: the station window's panels and
// download-cli's board say the same things.
#pragma once

#include <string>

#include "station/station.h"

// What the position is doing: "Waiting for a unit" (or why its port could
// not be scanned: "port did not open: ..."), "Programming", "Programming,
// then stopping" or "Stopped" (with why, when it could not start:
// "Stopped: not started: ...").
std::string StateWords(const PositionView& v);
// How its last unit went, as an operator reads it from afar: "PASS",
// "FAIL", "STOP" when the operator stopped it (neither), or "HOLD" when its
// record could not be written (set it aside: it is not counted). Empty
// while a unit is under way, and before the first.
std::string VerdictWord(const PositionView& v);
// Why, in words, with its time: "Done: the whole image was sent (8.3 s)",
// or "Not recorded, not counted (Done: ...): REASON". Empty when
// VerdictWord is.
std::string ReasonWords(const PositionView& v);
// The last unit in short: "done 8.3 s" ("done 8.3 s, not recorded"); "-"
// before the first.
std::string LastUnitWords(const PositionView& v);
