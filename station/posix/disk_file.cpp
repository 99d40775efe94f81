// The station's files on POSIX: open() without blocking, then fstat() on
// the descriptor; a new file, fsync(), rename(), fsync() of the folder.
#include "station/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "framework/posix/file_kind.h"

namespace {

std::string Failure(const char* operation, const std::string& path, int error) {
    return std::string(operation) + " " + path + ": " + std::strerror(error);
}

bool HasNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The folder that holds path, whose own entry the rename changes.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DiskReader::~DiskReader() {
    if (m_handle >= 0) {
        close(static_cast<int>(m_handle));
    }
}

DiskReader::Opened DiskReader::Open(const std::string& path, std::string& error) {
    m_path = path;
    if (HasNul(path)) {
        error = "opening " + path + ": a NUL byte in the name";
        return Opened::Failed;
    }
    // Without blocking, then looked at through the descriptor itself: a
    // FIFO with no writer would hold the open for ever, and a look at the
    // path first could be answered by another file than the one opened.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int failure = errno;
        error = Failure("opening", path, failure);
        return failure == ENOENT ? Opened::Missing : Opened::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = Failure("opening", path, errno);
        close(fd);
        return Opened::Failed;
    }
    if (S_ISDIR(st.st_mode)) {
        error = Failure("reading", path, EISDIR);
        close(fd);
        return Opened::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "opening " + path + ": " + NotARegularFile(st.st_mode);
        close(fd);
        return Opened::Failed;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    return Opened::Yes;
}

long long DiskReader::Read(char* buffer, std::size_t size, std::string& error) {
    if (m_handle < 0) {
        error = Failure("reading", m_path, EBADF);
        return -1;
    }
    for (;;) {
        const ssize_t n = read(static_cast<int>(m_handle), buffer, size);
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR) {
            error = Failure("reading", m_path, errno);
            return -1;
        }
    }
}

bool ReplaceFileWhole(const std::string& path, std::string_view contents, std::string& error) {
    if (HasNul(path)) {
        error = "writing " + path + ": a NUL byte in the name";
        return false;
    }
    // A name of its own for every attempt: two writers (two windows, or
    // two threads) never share a new file.
    static std::atomic<unsigned> attempts{0};
    const std::string temporary =
        path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(attempts.fetch_add(1));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Failure("creating", temporary, errno);
        return false;
    }
    // The replacement keeps the old file's permissions.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        fchmod(fd, old.st_mode & 07777);
    }
    const char* failed = nullptr;
    int reason = 0;
    if (!WriteAll(fd, contents)) {
        failed = "writing";
        reason = errno;
    } else if (fsync(fd) != 0) {
        failed = "flushing";
        reason = errno;
    }
    if (close(fd) != 0 && failed == nullptr) {
        failed = "closing";
        reason = errno;
    }
    if (failed != nullptr) {
        error = Failure(failed, temporary, reason);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = "renaming " + temporary + " to " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself is on the disk once the folder is.
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}
