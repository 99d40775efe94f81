// Why a write or drain failed, kept per thread for LastWriteError(): the
// backends note it; the caller reads it right after the failed call.
#pragma once

#include <string>

void NoteWriteError(std::string reason);
