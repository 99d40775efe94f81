// download-cli's terminal, signals and port names on POSIX systems.
#include "tools/cli/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "serial/serial_port.h"

namespace {

std::atomic<int> g_count{0};
std::atomic<int> g_last{0};
std::atomic<int> g_stopNow{0};  // also the serial layer's abort flag
bool g_firstInterruptWaits = false;

// Called from the handler: lock-free atomics only.
void Note(int signal) {
    g_last = signal;
    const int count = g_count.fetch_add(1) + 1;
    if (!g_firstInterruptWaits || count >= 2 || signal == SIGTERM) {
        g_stopNow = 1;
    }
}

void OnInterrupt(int signal) {
    Note(signal);
}

}  // namespace

void SetUpConsole(bool firstInterruptWaits) {
    g_firstInterruptWaits = firstInterruptWaits;
    SetAbortFlag(&g_stopNow);
    // No SA_RESTART: a wait of the main thread ends at the signal. The main
    // loop looks at the count at least every 50 ms anyway.
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopNow() {
    return g_stopNow.load() != 0;
}

int InterruptCount() {
    return g_count.load();
}

int LastInterrupt() {
    return g_last.load();
}

std::string InterruptReason(int signal) {
    return signal == SIGTERM ? "interrupted by SIGTERM" : "interrupted by SIGINT";
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

std::string UtcTime(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string PortName(const std::string& typed) {
    return typed;
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
