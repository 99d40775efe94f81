// The --record file on Windows: appended data only, one WriteFile a line,
// FlushFileBuffers.
#include "station/record_file.h"

#include <cstdint>
#include <string>

#include "framework/win32/win32.h"

namespace {

HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

std::string LastErrorText() {
    return win32::SystemMessage(::GetLastError());
}

}  // namespace

RecordFile::~RecordFile() {
    if (m_handle != kClosed) {
        ::CloseHandle(AsHandle(m_handle));
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    // FILE_APPEND_DATA alone: every write goes to the end, whoever else
    // appends; others may read it (a log shipper) and append too.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return false;
    }
    m_handle = static_cast<long long>(reinterpret_cast<std::intptr_t>(file));
    return true;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
    HANDLE file = AsHandle(m_handle);
    DWORD written = 0;
    if (!::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        error = LastErrorText();
        return false;
    }
    if (written != line.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
                " bytes written";
        return false;
    }
    // A console or a pipe has no disk to flush to.
    if (!::FlushFileBuffers(file)) {
        const DWORD failure = ::GetLastError();
        if (failure != ERROR_INVALID_FUNCTION && failure != ERROR_INVALID_HANDLE) {
            error = "FlushFileBuffers: " + win32::SystemMessage(failure);
            return false;
        }
    }
    return true;
}
