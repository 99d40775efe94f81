// The system's texts in UTF-8 and ours in UTF-16 (system_text.h).
#include "disk/win32/system_text.h"

// clang-format off
#include "disk/win32/windows_headers.h"
#include <shellapi.h>
// clang-format on

#include <climits>

namespace win32 {

namespace {

// utf8 in UTF-16, with flags for MultiByteToWideChar: false when it
// refuses the bytes.
bool Convert(std::string_view utf8, DWORD flags, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) {
        return true;
    }
    if (utf8.size() > INT_MAX) {
        return false;
    }
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, nullptr, 0);
    if (n <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, wide.data(), n) == n;
}

}  // namespace

bool ToUtf16(std::string_view utf8, std::wstring& wide) {
    return utf8.find('\0') == std::string_view::npos && Convert(utf8, MB_ERR_INVALID_CHARS, wide);
}

std::wstring Widen(std::string_view utf8) {
    std::wstring wide;
    Convert(utf8, 0, wide);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string SystemMessage(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message =
        n && text ? Utf8(std::wstring_view(text, n)) : "error " + std::to_string(error);
    if (text) {
        ::LocalFree(text);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

Utf8Arguments::Utf8Arguments() {
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) {
            m_words.push_back(Utf8(wide[i]));
        }
        ::LocalFree(wide);
    }
    for (std::string& word : m_words) {
        m_pointers.push_back(word.data());
    }
    m_pointers.push_back(nullptr);
}

}  // namespace win32
