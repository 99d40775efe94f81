// The reason of the last failed write or drain, one per thread: several
// dialogs on one thread read it right after their own call, and a worker's
// thread never overwrites what the user-interface thread is about to read.
#include "serial/write_error.h"

#include <utility>

#include "serial/serial_port.h"

namespace {
thread_local std::string t_lastWriteError;
}  // namespace

void NoteWriteError(std::string reason) {
    t_lastWriteError = std::move(reason);
}

std::string LastWriteError() {
    return t_lastWriteError;
}
