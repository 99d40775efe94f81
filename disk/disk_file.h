// Files on the disk: the one place that calls the system for the files the
// tool reads and writes. The framework's file class (CFile, the image),
// the station's files (the station file, the day's counts) and the record
// file all rest on it.
//
// Paths are UTF-8 on every system. On Windows they become UTF-16 here, at
// the wide call (CreateFileW), so that a name outside the ANSI code page
// opens as it is spelt; a name that is not UTF-8 is refused rather than
// read as another name. On POSIX systems they go to the system as they are.
//
// disk/posix/disk_file.cpp and disk/win32/disk_file.cpp implement it. Every
// failure is a DiskError, which names the operation, the file and the
// reason, the system's words where it has them:
//
//     opening C:\x\units.jsonl: Access is denied
//     opening /srv/fifo: Not a regular file (a FIFO)
//
// A DiskFile belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct DiskError {
    std::string operation;  // "opening", "reading", "writing", "flushing", ...
    std::string path;       // the file, as it was named
    std::string reason;     // the system's words, or ours

    // "operation path: reason"
    std::string Message() const { return operation + " " + path + ": " + reason; }
};

class DiskFile {
  public:
    enum class Opened { Yes, Missing, Failed };

    DiskFile() = default;
    ~DiskFile();  // closes it
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // Opens path for reading, never waiting on it: a FIFO (a pipe), a
    // device or a folder is refused at once, as is anything else that is
    // not a regular file. Missing when there is no file by that name (or
    // no folder on its way); Failed when it cannot be opened or is refused.
    // Others may go on writing to the file, appending to it, renaming or
    // removing it while it is open here.
    Opened OpenToRead(const std::string& path, DiskError& error);
    // Opens path for appending, creating it (not its folder) when it is not
    // there: every write goes to the end of the file, whoever else appends
    // to it. Others may read it and append to it too. Never waits on it:
    // a FIFO, a device or a folder is refused at once, as for reading.
    bool OpenToAppend(const std::string& path, DiskError& error);

    bool IsOpen() const { return m_handle != kClosed; }
    const std::string& Path() const { return m_path; }

    // Reads up to size bytes: the count read, which is 0 only at the end of
    // the file, or -1 on failure.
    long long Read(void* buffer, std::size_t size, DiskError& error);
    // Reads up to size bytes from offset, without moving where Read goes
    // on: the count read (0 at or past the end), or -1 on failure. A file
    // opened for appending may not grant reading; it fails then.
    long long ReadAt(std::uint64_t offset, void* buffer, std::size_t size, DiskError& error);
    // The file's size now, or -1 on failure.
    long long Size(DiskError& error);
    // Back to the start of a file opened for reading.
    bool Rewind(DiskError& error);
    // Writes data at the end of the file in a single write, so that what
    // others append never lands inside it. A write that takes fewer bytes
    // than data holds is a failure ("only 10 of 20 bytes written"), and
    // what it wrote is cut off again, unless another writer has appended
    // after it since: the file then ends as it did before.
    bool Append(std::string_view data, DiskError& error);
    // Returns once what was written is on the disk (fsync,
    // FlushFileBuffers). A file with no disk under it (a pipe, a terminal,
    // /dev/null) counts as flushed.
    bool Flush(DiskError& error);
    void Close();

  private:
    static constexpr long long kClosed = -1;
    std::string m_path;
    long long m_handle = kClosed;  // a file descriptor, or a HANDLE's value
};

// Replaces the file at path with contents: writes them to a new file in the
// same folder, flushes it to the disk, and renames it over path (which may
// not exist yet). On failure the old file is left as it was and the new
// one is removed. The new file keeps the old one's permissions where the
// system has them.
bool ReplaceFileWhole(const std::string& path, std::string_view contents, DiskError& error);
