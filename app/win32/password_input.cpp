// DownloadStation.exe --set-password's terminal: the console without echo.
//
// DownloadStation.exe is a window program, so it has no console of its
// own: given standard input that is a pipe or a file (a script's), it
// reads its lines from there; else it opens a console window of its own,
// where the password is typed without being shown. The outcome goes to
// standard output or error when they lead somewhere, else to a message box,
// since the console goes with the program.
#include "app/password_input.h"

#include <iterator>
#include <string>

#include "framework/win32/win32.h"

namespace {

// More than anyone types; a longer line is no password.
constexpr std::size_t kMaxPasswordBytes = 1024;

// A handle given by whoever started the program: a pipe or a file.
bool Redirected(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN && !::GetConsoleMode(handle, &mode);
}

// Reads up to a line break from a pipe or file, a byte at a time: what
// follows the line is left for the next read.
bool ReadLine(HANDLE in, std::string& line, std::string& error) {
    std::string read;
    for (;;) {
        char c = 0;
        DWORD n = 0;
        if (!::ReadFile(in, &c, 1, &n, nullptr)) {
            const DWORD code = ::GetLastError();
            if (code != ERROR_BROKEN_PIPE && code != ERROR_HANDLE_EOF) {
                error = "ReadFile: " + win32::SystemMessage(code);
                return false;
            }
            n = 0;
        }
        if (n == 0) {
            if (read.empty()) {
                error = "the input ended before a password";
                return false;
            }
            break;
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

// The console's input and its mode while echo is off, for Ctrl+C to put
// back before the program ends.
HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_savedMode = 0;

BOOL WINAPI PutEchoBack(DWORD) {
    ::SetConsoleMode(g_console, g_savedMode);
    return FALSE;  // and on to the default handling, which ends the program
}

bool ReadFromConsole(const char* prompt, std::string& password, std::string& error) {
    if (::GetConsoleWindow() == nullptr && !::AllocConsole()) {
        error = "AllocConsole: " + win32::SystemMessage(::GetLastError());
        return false;
    }
    HANDLE in =
        ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    auto close = [&] {
        if (in != INVALID_HANDLE_VALUE) {
            ::CloseHandle(in);
        }
        if (out != INVALID_HANDLE_VALUE) {
            ::CloseHandle(out);
        }
    };
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !::GetConsoleMode(in, &mode)) {
        error = "opening the console: " + win32::SystemMessage(::GetLastError());
        close();
        return false;
    }
    const std::wstring shown = win32::Widen(prompt);
    DWORD written = 0;
    ::WriteConsoleW(out, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);

    g_console = in;
    g_savedMode = mode;
    ::SetConsoleCtrlHandler(&PutEchoBack, TRUE);
    bool read = false;
    if (!::SetConsoleMode(in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                                  ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        error = "SetConsoleMode: " + win32::SystemMessage(::GetLastError());
    } else {
        std::wstring line;
        read = true;
        while (line.empty() || line.back() != L'\n') {
            wchar_t piece[256];
            DWORD n = 0;
            if (!::ReadConsoleW(in, piece, static_cast<DWORD>(std::size(piece)), &n, nullptr)) {
                error = "ReadConsoleW: " + win32::SystemMessage(::GetLastError());
                read = false;
                break;
            }
            if (n == 0) {
                error = "the input ended before a password";
                read = false;
                break;
            }
            line.append(piece, n);
            if (line.size() > 2 * kMaxPasswordBytes) {
                error = "longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
                read = false;
                break;
            }
        }
        ::SetConsoleMode(in, mode);
        while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) {
            line.pop_back();
        }
        if (read) {
            password = win32::Utf8(line);
        }
    }
    ::SetConsoleCtrlHandler(&PutEchoBack, FALSE);
    ::WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
    close();
    return read;
}

}  // namespace

bool ReadPassword(const char* prompt, std::string& password, std::string& error) {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (Redirected(in)) {
        return ReadLine(in, password, error);
    }
    return ReadFromConsole(prompt, password, error);
}

void TellPasswordOutcome(const std::string& message, bool failed) {
    const std::string text = "DownloadStation: " + message;
    HANDLE to = ::GetStdHandle(failed ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (Redirected(to)) {
        const std::string line = text + "\r\n";
        DWORD written = 0;
        ::WriteFile(to, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    ::MessageBoxW(nullptr, win32::Widen(text).c_str(), L"Download Station",
                  MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
}
