// download-cli's console, interrupts and open errors on Windows.
#include "tools/cli/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "framework/win32/win32.h"
#include "tools/cli/interrupts.h"

namespace {

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            NoteInterrupt(kInterruptSigInt);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            NoteInterrupt(kInterruptSigTerm);
            // The process ends when this returns: give the main loop the
            // time to close the port and write its record.
            ::Sleep(2000);
            return TRUE;
        default:
            return FALSE;
    }
}

// The console's code page as the program found it, put back at its end.
UINT g_consoleCodePage = 0;

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(g_consoleCodePage);
}

}  // namespace

void UseUtf8(int& argc, char**& argv) {
    static win32::Utf8Arguments arguments;
    argc = arguments.Count();
    argv = arguments.Pointers();
    // Without a console (output to a pipe or a file) the bytes go out as
    // they are, UTF-8 already.
    g_consoleCodePage = ::GetConsoleOutputCP();
    if (g_consoleCodePage != 0 && g_consoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        std::atexit(RestoreConsoleCodePage);
    }
}

void SetUpConsole(bool firstInterruptWaits) {
    ArmInterrupts(firstInterruptWaits);
    // Lines end as on Linux, so that scripts read the same output from both.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::string InterruptReason(int signal) {
    return signal == kInterruptSigTerm ? "interrupted by a request to end"
                                       : "interrupted by Ctrl+C";
}

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

std::string ExplainOpenError(const std::string& reason) {
    // A COM port opens for one program at a time; another one's is refused
    // as access denied.
    if (reason == win32::SystemMessage(ERROR_ACCESS_DENIED)) {
        return reason + " (the port is in use by another program)";
    }
    return reason;
}

bool StdoutRedrawsInPlace() {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!StdoutIsTerminal() || !::GetConsoleMode(out, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
