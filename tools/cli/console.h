// The parts of download-cli that differ per platform: the terminal, the
// interrupt signals and the reasons a port did not open.
// tools/cli/posix/console.cpp and tools/cli/win32/console.cpp implement
// them; everything else is portable.
#pragma once

#include <string>

// The program's arguments, and what it prints, in UTF-8, the encoding of
// every path in the tool. On Windows argc and argv are replaced by the
// system's own UTF-16 command line in UTF-8 (the narrow argv would have
// lost what the ANSI code page cannot spell), and the console, where there
// is one, shows UTF-8 until the program ends. Elsewhere both are left as
// they are. Called first thing in main().
void UseUtf8(int& argc, char**& argv);

// Makes Ctrl+C (SIGINT) and SIGTERM - on Windows Ctrl+C, Ctrl+Break and
// closing the console - only noted (interrupts.h), for the program to act
// on; and makes every line end in a bare newline, on every platform.
// firstInterruptWaits is ArmInterrupts' (--loop).
void SetUpConsole(bool firstInterruptWaits);
// The reason recorded for a unit an interrupt ended, e.g. "interrupted by
// SIGINT".
std::string InterruptReason(int signal);

// Whether standard output is a terminal (a progress bar redrawn in place)
// rather than a pipe or a file (a line per tenth).
bool StdoutIsTerminal();

// Whether standard output is a terminal that takes the escape sequences
// which move the cursor and clear lines, for a board redrawn in place (on
// Windows, a console that could be switched to take them).
bool StdoutRedrawsInPlace();

// The system's reason for a failed open, with a hint where one helps.
std::string ExplainOpenError(const std::string& reason);
