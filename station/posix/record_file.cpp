// The --record file on POSIX: O_APPEND, one write() a line, fsync().
#include "station/record_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

RecordFile::~RecordFile() {
    if (m_handle != kClosed) {
        close(static_cast<int>(m_handle));
    }
}

bool RecordFile::Open(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    m_handle = fd;
    return true;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
    const int fd = static_cast<int>(m_handle);
    ssize_t w = -1;
    do {
        w = write(fd, line.data(), line.size());
    } while (w < 0 && errno == EINTR);
    if (w < 0) {
        error = std::strerror(errno);
        return false;
    }
    // A line cut short would be a broken record, and the rest written on
    // its own could interleave with another writer's: one write or nothing.
    if (static_cast<std::size_t>(w) != line.size()) {
        error =
            "only " + std::to_string(w) + " of " + std::to_string(line.size()) + " bytes written";
        return false;
    }
    // Pipes, terminals and /dev/null have nothing to flush to a disk.
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
        error = std::string("fsync: ") + std::strerror(errno);
        return false;
    }
    return true;
}
