// Files on Win32 handles, named in UTF-16 from our UTF-8 at each wide call:
// CreateFileW and GetFileType for reading; FILE_APPEND_DATA, one WriteFile
// and FlushFileBuffers for appending; a new file, FlushFileBuffers and
// MoveFileExW over the old one for a file replaced whole.
#include "disk/disk_file.h"

#include "disk/win32/windows_headers.h"

#include <atomic>
#include <cstdint>

#include "disk/win32/system_text.h"

namespace {

DiskError Failure(std::string operation, const std::string& path, DWORD error) {
    return {std::move(operation), path, win32::SystemMessage(error)};
}

// path in UTF-16, or the reason it cannot be.
bool Name(const std::string& path, std::wstring& wide, std::string& reason) {
    if (path.find('\0') != std::string::npos) {
        reason = "a NUL byte in the name";
        return false;
    }
    if (!win32::ToUtf16(path, wide)) {
        reason = "not a UTF-8 file name";
        return false;
    }
    return true;
}

HANDLE AsHandle(long long value) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

long long AsValue(HANDLE handle) {
    return static_cast<long long>(reinterpret_cast<std::intptr_t>(handle));
}

// What a handle that is no file on a disk is, in the words of every
// refusal of one.
const char* NotARegularFile(DWORD type) {
    switch (type) {
        case FILE_TYPE_PIPE:
            return "Not a regular file (a pipe)";
        case FILE_TYPE_CHAR:
            return "Not a regular file (a device)";
        default:
            return "Not a regular file";
    }
}

// A folder does not open as a file: Windows says "Access is denied", which
// would send the operator after the file's permissions.
bool IsFolder(const std::wstring& wide, DWORD failure) {
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return failure == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// After a write that took only `written` of its bytes at the end of a file
// that had `before` bytes: cuts them off again, unless someone has appended
// after them since. What became of them, in words to follow "only N of M
// bytes written".
std::string CutBack(const std::string& path, long long before, DWORD written) {
    if (written == 0) {
        return "";
    }
    std::wstring wide;
    std::string reason;
    if (before < 0 || !Name(path, wide, reason)) {
        return "; left in place";
    }
    // The append handle may not move the end back; one that writes may.
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return "; they could not be cut off again: " + win32::SystemMessage(::GetLastError());
    }
    LARGE_INTEGER size{};
    std::string outcome;
    if (!::GetFileSizeEx(h, &size) || size.QuadPart != before + static_cast<long long>(written)) {
        outcome = "; left in place, as more was appended after them";
    } else {
        LARGE_INTEGER end{};
        end.QuadPart = before;
        outcome =
            ::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(h)
                ? "; cut off again"
                : "; they could not be cut off again: " + win32::SystemMessage(::GetLastError());
    }
    ::CloseHandle(h);
    return outcome;
}

}  // namespace

DiskFile::~DiskFile() {
    Close();
}

DiskFile::Opened DiskFile::OpenToRead(const std::string& path, DiskError& error) {
    Close();
    m_path = path;
    std::wstring wide;
    std::string reason;
    if (!Name(path, wide, reason)) {
        error = {"opening", path, reason};
        return Opened::Failed;
    }
    // A record file is read while the station appends to it: others may
    // write, and even rename or remove it, while it is open here. A folder
    // does not open without FILE_FLAG_BACKUP_SEMANTICS, and a device or a
    // pipe opens at once: only a read could wait on one, and none is made.
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD failure = ::GetLastError();
        if (IsFolder(wide, failure)) {
            error = {"opening", path, "Not a regular file (a folder)"};
            return Opened::Failed;
        }
        error = Failure("opening", path, failure);
        return failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ? Opened::Missing
                                                                                  : Opened::Failed;
    }
    const DWORD type = ::GetFileType(h);
    if (type != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error = {"opening", path, NotARegularFile(type)};
        return Opened::Failed;
    }
    m_handle = AsValue(h);
    return Opened::Yes;
}

bool DiskFile::OpenToAppend(const std::string& path, DiskError& error) {
    Close();
    m_path = path;
    std::wstring wide;
    std::string reason;
    if (!Name(path, wide, reason)) {
        error = {"opening", path, reason};
        return false;
    }
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the
    // end, whoever else appends; others may read it (a log shipper) and
    // append too. Reading as well, for a look at its last byte, where the
    // file grants it. A device or a pipe opens at once, and is refused
    // below before anything is written to it.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, share, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED &&
        !IsFolder(wide, ERROR_ACCESS_DENIED)) {
        h = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD failure = ::GetLastError();
        error = IsFolder(wide, failure)
                    ? DiskError{"opening", path, "Not a regular file (a folder)"}
                    : Failure("opening", path, failure);
        return false;
    }
    const DWORD type = ::GetFileType(h);
    if (type != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error = {"opening", path, NotARegularFile(type)};
        return false;
    }
    m_handle = AsValue(h);
    return true;
}

long long DiskFile::Size(DiskError& error) {
    LARGE_INTEGER size{};
    if (!IsOpen() || !::GetFileSizeEx(AsHandle(m_handle), &size)) {
        error = Failure("looking at", m_path, IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return -1;
    }
    return size.QuadPart;
}

long long DiskFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size, DiskError& error) {
    const DWORD want = static_cast<DWORD>(size < 0x10000000 ? size : 0x10000000);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!IsOpen() || !::ReadFile(AsHandle(m_handle), buffer, want, &got, &at)) {
        const DWORD failure = IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE;
        if (failure == ERROR_HANDLE_EOF) {
            return 0;
        }
        error = Failure("reading", m_path, failure);
        return -1;
    }
    return got;
}

long long DiskFile::Read(void* buffer, std::size_t size, DiskError& error) {
    // One call reads at most a DWORD's worth; the caller asks again.
    const DWORD want = static_cast<DWORD>(size < 0x10000000 ? size : 0x10000000);
    DWORD got = 0;
    if (!IsOpen() || !::ReadFile(AsHandle(m_handle), buffer, want, &got, nullptr)) {
        error = Failure("reading", m_path, IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return -1;
    }
    return got;
}

bool DiskFile::Rewind(DiskError& error) {
    const LARGE_INTEGER start{};
    if (!IsOpen() || !::SetFilePointerEx(AsHandle(m_handle), start, nullptr, FILE_BEGIN)) {
        error = Failure("seeking in", m_path, IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool DiskFile::Append(std::string_view data, DiskError& error) {
    if (data.size() > 0xFFFFFFFFu) {
        error = {"writing", m_path, "more than one write can take"};
        return false;
    }
    LARGE_INTEGER before{};
    before.QuadPart = -1;
    if (IsOpen() && !::GetFileSizeEx(AsHandle(m_handle), &before)) {
        before.QuadPart = -1;
    }
    DWORD written = 0;
    if (!IsOpen() || !::WriteFile(AsHandle(m_handle), data.data(), static_cast<DWORD>(data.size()),
                                  &written, nullptr)) {
        error = Failure("writing", m_path, IsOpen() ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return false;
    }
    // The rest written on its own could land after another writer's data:
    // what went is cut off again, so that the file ends as it did.
    if (written != data.size()) {
        error = {"writing", m_path,
                 "only " + std::to_string(written) + " of " + std::to_string(data.size()) +
                     " bytes written" + CutBack(m_path, before.QuadPart, written)};
        return false;
    }
    return true;
}

bool DiskFile::Flush(DiskError& error) {
    if (!IsOpen()) {
        error = Failure("flushing", m_path, ERROR_INVALID_HANDLE);
        return false;
    }
    // A console or a pipe has no disk to flush to.
    if (!::FlushFileBuffers(AsHandle(m_handle))) {
        const DWORD failure = ::GetLastError();
        if (failure != ERROR_INVALID_FUNCTION && failure != ERROR_INVALID_HANDLE) {
            error = Failure("flushing", m_path, failure);
            return false;
        }
    }
    return true;
}

void DiskFile::Close() {
    if (IsOpen()) {
        ::CloseHandle(AsHandle(m_handle));
        m_handle = kClosed;
    }
}

bool ReplaceFileWhole(const std::string& path, std::string_view contents, DiskError& error) {
    static std::atomic<unsigned> attempts{0};
    const std::string temporary = path + ".new-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                  std::to_string(attempts.fetch_add(1));
    std::wstring widePath, wideTemporary;
    std::string reason;
    if (!Name(path, widePath, reason) || !Name(temporary, wideTemporary, reason)) {
        error = {"writing", path, reason};
        return false;
    }
    HANDLE h = ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = Failure("creating", temporary, ::GetLastError());
        return false;
    }
    const char* failed = nullptr;
    DWORD failure = 0;
    while (!contents.empty()) {
        const DWORD chunk =
            static_cast<DWORD>(contents.size() < 0x100000 ? contents.size() : 0x100000);
        DWORD written = 0;
        if (!::WriteFile(h, contents.data(), chunk, &written, nullptr)) {
            failed = "writing";
            failure = ::GetLastError();
            break;
        }
        if (written == 0) {
            failed = "writing";
            failure = ERROR_WRITE_FAULT;
            break;
        }
        contents.remove_prefix(written);
    }
    if (failed == nullptr && !::FlushFileBuffers(h)) {
        failed = "flushing";
        failure = ::GetLastError();
    }
    ::CloseHandle(h);
    if (failed != nullptr) {
        error = Failure(failed, temporary, failure);
        ::DeleteFileW(wideTemporary.c_str());
        return false;
    }
    if (!::MoveFileExW(wideTemporary.c_str(), widePath.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = Failure("renaming " + temporary + " to", path, ::GetLastError());
        ::DeleteFileW(wideTemporary.c_str());
        return false;
    }
    return true;
}
