// How a unit ended, in words.
#include "station/unit.h"

const char* ResultName(UnitResult r) {
    switch (r) {
        case UnitResult::Done:
            return "done";
        case UnitResult::NoMachine:
            return "no machine";
        case UnitResult::Stopped:
            return "stopped";
        case UnitResult::Silent:
            return "silent";
        case UnitResult::PortLost:
            return "port lost";
        case UnitResult::EndedEarly:
            return "ended early";
        case UnitResult::PortRefused:
            return "port refused";
        case UnitResult::Interrupted:
            return "interrupted";
    }
    return "?";
}
