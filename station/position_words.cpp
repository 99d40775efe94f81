// The words for a position; see position_words.h.
#include "station/position_words.h"

#include <cctype>
#include <cstdio>

namespace {

bool UnderWay(const PositionView& v) {
    return v.state == PositionState::Programming || v.state == PositionState::Finishing;
}

std::string Seconds(double seconds, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, seconds);
    return text;
}

}  // namespace

std::string StateWords(const PositionView& v) {
    switch (v.state) {
        case PositionState::Stopped:
            return v.note.empty() ? "Stopped" : "Stopped: " + v.note;
        case PositionState::Waiting:
            if (!v.note.empty()) {
                return v.note;
            }
            return v.nextUnitId.empty() ? "Waiting for a unit" : "Waiting for unit " + v.nextUnitId;
        case PositionState::Programming:
            return "Programming";
        case PositionState::Finishing:
            return "Programming, then stopping";
        case PositionState::WaitingForScan:
            return "Waiting for a scan";
    }
    return "";
}

std::string VerdictWord(const PositionView& v) {
    if (!v.last || UnderWay(v)) {
        return "";
    }
    if (!v.notRecorded.empty()) {
        return "HOLD";  // set the unit aside: it has no record yet
    }
    if (v.last->result == UnitResult::Interrupted) {
        return "STOP";  // the operator stopped it: neither a pass nor a fail
    }
    return v.last->result == UnitResult::Done ? "PASS" : "FAIL";
}

std::string ReasonWords(const PositionView& v) {
    if (!v.last || UnderWay(v)) {
        return "";
    }
    std::string text = ResultName(v.last->result);
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    text += ": " + v.last->reason + Seconds(v.last->seconds, " (%.1f s)");
    if (!v.last->unitId.empty()) {
        text += "    unit " + v.last->unitId;
    }
    if (v.last->serial) {
        text += "    serial " + std::to_string(*v.last->serial);
    }
    if (!v.notRecorded.empty()) {
        return "Not recorded, not counted (" + text + "): " + v.notRecorded;
    }
    return text;
}

std::string LastUnitWords(const PositionView& v) {
    if (!v.last) {
        return "-";
    }
    return ResultName(v.last->result) + Seconds(v.last->seconds, " %.1f s") +
           (v.notRecorded.empty() ? "" : ", not recorded");
}
