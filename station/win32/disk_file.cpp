// The station's files on Win32: names widened from UTF-8 for the wide
// calls; a new file, FlushFileBuffers, MoveFileExW over the old one.
#include "station/disk_file.h"

#include "framework/win32/win32.h"

#include <atomic>
#include <cstdint>

namespace {

std::string Failure(const char* operation, const std::string& path, DWORD error) {
    return std::string(operation) + " " + path + ": " + win32::SystemMessage(error);
}

// path in UTF-16 for the wide calls; false when it is not UTF-8 or holds a
// NUL, which would name another file.
bool Widen(const std::string& path, std::wstring& wide) {
    if (path.find('\0') != std::string::npos || path.size() > 0x7FFFFFFF) {
        return false;
    }
    if (path.empty()) {
        wide.clear();
        return true;
    }
    const int size = static_cast<int>(path.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (n <= 0) {
        return false;
    }
    wide.assign(static_cast<std::size_t>(n), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, wide.data(), n) ==
           n;
}

HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

}  // namespace

DiskReader::~DiskReader() {
    if (m_handle != -1) {
        CloseHandle(AsHandle(m_handle));
    }
}

DiskReader::Opened DiskReader::Open(const std::string& path, std::string& error) {
    m_path = path;
    std::wstring wide;
    if (!Widen(path, wide)) {
        error = "opening " + path + ": not a UTF-8 file name";
        return Opened::Failed;
    }
    // The record file is read while the station appends to it: others may
    // write, and even rename or remove it, while it is open here.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD failure = GetLastError();
        error = Failure("opening", path, failure);
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ? Opened::Missing
                                                                                  : Opened::Failed;
    }
    // Only a file on a disk: a pipe or a device could make a read wait.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        error = "opening " + path + ": Not a regular file (a pipe or a device)";
        return Opened::Failed;
    }
    m_handle = static_cast<long long>(reinterpret_cast<std::intptr_t>(h));
    return Opened::Yes;
}

long long DiskReader::Read(char* buffer, std::size_t size, std::string& error) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(size < 0x10000000 ? size : 0x10000000);
    if (m_handle == -1 || !ReadFile(AsHandle(m_handle), buffer, want, &got, nullptr)) {
        error = Failure("reading", m_path, m_handle == -1 ? ERROR_INVALID_HANDLE : GetLastError());
        return -1;
    }
    return got;
}

bool ReplaceFileWhole(const std::string& path, std::string_view contents, std::string& error) {
    static std::atomic<unsigned> attempts{0};
    const std::string temporary = path + ".new-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(attempts.fetch_add(1));
    std::wstring widePath, wideTemporary;
    if (!Widen(path, widePath) || !Widen(temporary, wideTemporary)) {
        error = "writing " + path + ": not a UTF-8 file name";
        return false;
    }
    HANDLE h = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = Failure("creating", temporary, GetLastError());
        return false;
    }
    const char* failed = nullptr;
    DWORD reason = 0;
    while (!contents.empty()) {
        const DWORD chunk =
            static_cast<DWORD>(contents.size() < 0x100000 ? contents.size() : 0x100000);
        DWORD written = 0;
        if (!WriteFile(h, contents.data(), chunk, &written, nullptr)) {
            failed = "writing";
            reason = GetLastError();
            break;
        }
        if (written == 0) {
            failed = "writing";
            reason = ERROR_WRITE_FAULT;
            break;
        }
        contents.remove_prefix(written);
    }
    if (failed == nullptr && !FlushFileBuffers(h)) {
        failed = "flushing";
        reason = GetLastError();
    }
    CloseHandle(h);
    if (failed != nullptr) {
        error = Failure(failed, temporary, reason);
        DeleteFileW(wideTemporary.c_str());
        return false;
    }
    if (!MoveFileExW(wideTemporary.c_str(), widePath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error =
            "renaming " + temporary + " to " + path + ": " + win32::SystemMessage(GetLastError());
        DeleteFileW(wideTemporary.c_str());
        return false;
    }
    return true;
}
