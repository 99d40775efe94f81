// What a unit's ending means for download-cli's exit status.
#include "tools/cli/unit.h"

int ExitStatusOf(const UnitOutcome& u, int signal) {
    return u.result == UnitResult::Interrupted ? 128 + signal : static_cast<int>(u.result);
}
