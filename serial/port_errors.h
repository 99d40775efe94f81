// Why a port's open, write, drain or close failed, kept per thread for
// LastOpenError(), LastWriteError() and LastCloseError() (serial_port.h):
// the backends note a reason; the caller reads it right after the call
// that failed. Per thread, because each station position opens, writes and
// closes its own port on its own thread at the same time as the others, and
// a reason noted on one must never be read as another's.
#pragma once

#include <string>

void NoteOpenError(std::string reason);
void NoteWriteError(std::string reason);
void NoteCloseError(std::string reason);
