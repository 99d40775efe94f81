// Files on the disk, as the station reads and writes them: a regular file
// read as a stream, never waiting on a FIFO or a device, and a file
// replaced whole. Paths are UTF-8 on every system.
//
// station/posix/disk_file.cpp and station/win32/disk_file.cpp implement
// it. Errors name the operation, the file and the system's reason:
// "opening /srv/station.txt: Permission denied".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class DiskReader {
  public:
    enum class Opened { Yes, Missing, Failed };

    DiskReader() = default;
    ~DiskReader();
    DiskReader(const DiskReader&) = delete;
    DiskReader& operator=(const DiskReader&) = delete;

    // Opens path for reading. Missing when there is no file by that name;
    // Failed when it cannot be opened or is not a regular file (refused
    // without waiting for a FIFO's writer); either with the reason in
    // error. Others may go on appending to the file while it is read.
    Opened Open(const std::string& path, std::string& error);
    // Reads up to size bytes: the count read, 0 at the end of the file, or
    // -1 with the reason in error.
    long long Read(char* buffer, std::size_t size, std::string& error);

  private:
    std::string m_path;
    long long m_handle = -1;  // a file descriptor, or a HANDLE's value
};

// Replaces the file at path with contents: writes them to a new file in the
// same folder, flushes it to the disk, and renames it over path (which may
// not exist yet). On failure the old file is left as it was and the new
// one is removed.
bool ReplaceFileWhole(const std::string& path, std::string_view contents, std::string& error);
