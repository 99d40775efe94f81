// The terminal of download-station --set-password: reading a password
// without showing it, and telling how the command went. Each platform's
// folder implements it: posix/password_input.cpp (termios),
// win32/password_input.cpp (the console).
#pragma once

#include <string>

// Reads one line as a password. From a terminal (the console on Windows)
// it says prompt first and does not echo what is typed; from standard input
// that is no terminal (a pipe, a file, as tests and scripts give it) it
// reads the next line as it is, with no prompt. The line's end (LF or CR
// LF) is not kept in the password. False, with the reason, at the end of
// the input before a line, or when the terminal cannot be read; the
// terminal's echo is back as it was however it ends, Ctrl+C included.
bool ReadPassword(const char* prompt, std::string& password, std::string& error);

// Tells the outcome, led by the program's name: on standard error when it
// failed, else on standard output (on Windows, where the program may have
// no console of its own, also in a message box).
void TellPasswordOutcome(const std::string& message, bool failed);
