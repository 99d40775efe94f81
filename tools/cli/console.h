// The parts of download-cli that differ per platform: the terminal, the
// interrupt signals and the names of ports. tools/cli/posix/console.cpp and
// tools/cli/win32/console.cpp implement them; everything else is portable.
#pragma once

#include <ctime>
#include <string>

// Makes Ctrl+C (SIGINT) and SIGTERM - on Windows Ctrl+C, Ctrl+Break and
// closing the console - only noted, for the program to act on; and makes
// every line end in a bare newline, on every platform. With
// firstInterruptWaits (--loop) the first Ctrl+C only asks the program to
// stop after the unit under way; a second one, or SIGTERM, stops at once.
// An interrupt that stops at once also sets the serial layer's abort flag
// (serial_port.h), so that no write waits out its bound.
void SetUpConsole(bool firstInterruptWaits);
// Whether an interrupt has come that stops the program at once.
bool StopNow();
// How many interrupts have come, and the signal number of the last one
// (2 for Ctrl+C, 15 for a request to terminate), 0 before any.
int InterruptCount();
int LastInterrupt();
// The reason recorded for a unit an interrupt ended, e.g. "interrupted by
// SIGINT".
std::string InterruptReason(int signal);

// Whether standard output is a terminal (a progress bar redrawn in place)
// rather than a pipe or a file (a line per tenth).
bool StdoutIsTerminal();
// The time in UTC as 2026-12-10T08:15:00Z.
std::string UtcTime(std::time_t t);

// A port name as typed on the command line, in the form the scan uses.
std::string PortName(const std::string& typed);
// The system's reason for a failed open, with a hint where one helps.
std::string ExplainOpenError(const std::string& reason);
