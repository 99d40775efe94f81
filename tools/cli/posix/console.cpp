// download-cli's terminal, signals and open errors on POSIX systems.
#include "tools/cli/console.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/cli/interrupts.h"

void UseUtf8(int&, char**&) {}

void SetUpConsole(bool firstInterruptWaits) {
    ArmInterrupts(firstInterruptWaits);
    // No SA_RESTART: a wait of the main thread ends at the signal. The main
    // loop looks at the count at least every 50 ms anyway. Signal numbers
    // are the ones interrupts.h counts in.
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A file-size limit fails the record's write (and it is said so, exit
    // 9) rather than ending the program with the units under way.
    signal(SIGXFSZ, SIG_IGN);
}

std::string InterruptReason(int signal) {
    return signal == SIGTERM ? "interrupted by SIGTERM" : "interrupted by SIGINT";
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::string ExplainOpenError(const std::string& reason) {
    // A permission error on a serial device nearly always means the user is
    // not in the group that owns the device.
    if (reason == std::strerror(EACCES)) {
        return reason + " (is the user in the 'dialout' group?)";
    }
    // Our exclusive open of a port another program holds.
    if (reason == std::strerror(EBUSY)) {
        return reason + " (the port is in use by another program)";
    }
    return reason;
}

bool StdoutRedrawsInPlace() {
    const char* term = std::getenv("TERM");
    return StdoutIsTerminal() && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}
