// The reasons of the last failed open, write or drain, and close, one set
// per thread (port_errors.h).
#include "serial/port_errors.h"

#include <utility>

#include "serial/serial_port.h"

namespace {
thread_local std::string t_lastOpenError;
thread_local std::string t_lastWriteError;
thread_local std::string t_lastCloseError;
}  // namespace

void NoteOpenError(std::string reason) {
    t_lastOpenError = std::move(reason);
}

void NoteWriteError(std::string reason) {
    t_lastWriteError = std::move(reason);
}

void NoteCloseError(std::string reason) {
    t_lastCloseError = std::move(reason);
}

std::string LastOpenError() {
    return t_lastOpenError;
}

std::string LastWriteError() {
    return t_lastWriteError;
}

std::string LastCloseError() {
    return t_lastCloseError;
}
