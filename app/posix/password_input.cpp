// download-station --set-password's terminal on POSIX: termios without echo.
#include "app/password_input.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

// More than anyone types; a longer line is no password.
constexpr std::size_t kMaxPasswordBytes = 1024;

// Reads up to a line break from fd, a byte at a time: what follows the line
// is left for the next read, whoever makes it.
bool ReadLine(int fd, std::string& line, std::string& error) {
    std::string read;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::string("read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            if (read.empty()) {
                error = "the input ended before a password";
                return false;
            }
            break;  // a last line without its line break
        }
        if (c == '\n') {
            break;
        }
        if (read.size() == kMaxPasswordBytes) {
            error = "longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
            return false;
        }
        read += c;
    }
    if (!read.empty() && read.back() == '\r') {
        read.pop_back();
    }
    line = std::move(read);
    return true;
}

// The terminal's settings while its echo is off, for a signal that ends the
// program to put back first.
termios g_saved;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void PutEchoBackAndEnd(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

bool ReadPassword(const char* prompt, std::string& password, std::string& error) {
    if (!::isatty(STDIN_FILENO)) {
        return ReadLine(STDIN_FILENO, password, error);
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    g_saved = saved;
    struct sigaction ending {
    }, before[std::size(kEndingSignals)]{};
    ending.sa_handler = &PutEchoBackAndEnd;
    sigemptyset(&ending.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &ending, &before[i]);
    }
    // A line at a time still, but nothing shown: not even the line break.
    // The echo goes before the prompt comes, so that nothing typed after
    // the prompt is ever shown; what was typed before it is dropped.
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    bool read = false;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
    } else {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        read = ReadLine(STDIN_FILENO, password, error);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &before[i], nullptr);
    }
    std::fputc('\n', stderr);  // the line break the terminal did not show
    return read;
}

void TellPasswordOutcome(const std::string& message, bool failed) {
    std::FILE* to = failed ? stderr : stdout;
    std::fprintf(to, "download-station: %s\n", message.c_str());
    std::fflush(to);
}
