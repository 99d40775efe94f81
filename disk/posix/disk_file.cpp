// Files on POSIX descriptors: open() without blocking, then fstat() on the
// descriptor; O_APPEND, one write() and fsync() for appending; a new file,
// fsync(), rename() and fsync() of the folder for a file replaced whole.
#include "disk/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

DiskError Failure(const char* operation, const std::string& path, int error) {
    return {operation, path, std::strerror(error)};
}

// A NUL would end the name early, and name another file.
bool HasNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

// What a path that is not a regular file is, in the words of every refusal
// of one.
const char* NotARegularFile(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "Not a regular file (a FIFO)";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "Not a regular file (a device)";
    }
    if (S_ISSOCK(mode)) {
        return "Not a regular file (a socket)";
    }
    return "Not a regular file";
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

// After a write that took only `written` bytes at the end of the file:
// cuts them off again, unless someone has appended after them since. What
// became of them, in words to follow "only N of M bytes written".
std::string CutBack(int fd, ssize_t written) {
    if (written <= 0) {
        return "";
    }
    const off_t end = lseek(fd, 0, SEEK_CUR);  // O_APPEND: just past what was written
    struct stat st {};
    if (end < written || fstat(fd, &st) != 0 || st.st_size != end) {
        return "; left in place, as more was appended after them";
    }
    while (ftruncate(fd, end - written) != 0) {
        if (errno != EINTR) {
            return std::string("; they could not be cut off again: ") + std::strerror(errno);
        }
    }
    return "; cut off again";
}

// The folder that holds path, whose own entry a rename changes.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DiskFile::~DiskFile() {
    Close();
}

DiskFile::Opened DiskFile::OpenToRead(const std::string& path, DiskError& error) {
    Close();
    m_path = path;
    if (HasNul(path)) {
        error = {"opening", path, "a NUL byte in the name"};
        return Opened::Failed;
    }
    // Without blocking, then looked at through the descriptor itself: a
    // FIFO with no writer would hold the open (or the first read) for ever,
    // and a look at the path first could be answered by another file than
    // the one then opened.
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
        error = Failure("reading", path, EISDIR);  // what a read of it would say
        close(fd);
        return Opened::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = {"opening", path, NotARegularFile(st.st_mode)};
        close(fd);
        return Opened::Failed;
    }
    // A regular file never blocks; reads wait for the disk as usual.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    return Opened::Yes;
}

bool DiskFile::OpenToAppend(const std::string& path, DiskError& error) {
    Close();
    m_path = path;
    if (HasNul(path)) {
        error = {"opening", path, "a NUL byte in the name"};
        return false;
    }
    // Without blocking, as for reading: a FIFO with no reader would hold the
    // open for ever. Read access too, for a look at the file's last byte;
    // a file that grants only writing is still appended to.
    const int flags = O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open(path.c_str(), O_RDWR | flags, 0644);
    if (fd < 0 && errno == EACCES) {
        fd = open(path.c_str(), O_WRONLY | flags, 0644);
    }
    if (fd < 0) {
        error = Failure("opening", path, errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = Failure("opening", path, errno);
        close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = {"opening", path, NotARegularFile(st.st_mode)};
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    return true;
}

long long DiskFile::Size(DiskError& error) {
    struct stat st {};
    if (!IsOpen() || fstat(static_cast<int>(m_handle), &st) != 0) {
        error = Failure("looking at", m_path, IsOpen() ? errno : EBADF);
        return -1;
    }
    return st.st_size;
}

long long DiskFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size, DiskError& error) {
    if (!IsOpen()) {
        error = Failure("reading", m_path, EBADF);
        return -1;
    }
    for (;;) {
        const ssize_t n =
            pread(static_cast<int>(m_handle), buffer, size, static_cast<off_t>(offset));
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR) {
            error = Failure("reading", m_path, errno);
            return -1;
        }
    }
}

long long DiskFile::Read(void* buffer, std::size_t size, DiskError& error) {
    if (!IsOpen()) {
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

bool DiskFile::Rewind(DiskError& error) {
    if (!IsOpen() || lseek(static_cast<int>(m_handle), 0, SEEK_SET) < 0) {
        error = Failure("seeking in", m_path, IsOpen() ? errno : EBADF);
        return false;
    }
    return true;
}

bool DiskFile::Append(std::string_view data, DiskError& error) {
    if (!IsOpen()) {
        error = Failure("writing", m_path, EBADF);
        return false;
    }
    ssize_t n = -1;
    do {
        n = write(static_cast<int>(m_handle), data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = Failure("writing", m_path, errno);
        return false;
    }
    // The rest written on its own could land after another writer's data:
    // what went is cut off again, so that the file ends as it did.
    if (static_cast<std::size_t>(n) != data.size()) {
        error = {"writing", m_path,
                 "only " + std::to_string(n) + " of " + std::to_string(data.size()) +
                     " bytes written" + CutBack(static_cast<int>(m_handle), n)};
        return false;
    }
    return true;
}

bool DiskFile::Flush(DiskError& error) {
    if (!IsOpen()) {
        error = Failure("flushing", m_path, EBADF);
        return false;
    }
    // Pipes, terminals and /dev/null have nothing to flush to a disk.
    if (fsync(static_cast<int>(m_handle)) != 0 && errno != EINVAL && errno != EROFS &&
        errno != ENOTSUP) {
        error = Failure("flushing", m_path, errno);
        return false;
    }
    return true;
}

void DiskFile::Close() {
    if (IsOpen()) {
        close(static_cast<int>(m_handle));
        m_handle = kClosed;
    }
}

bool ReplaceFileWhole(const std::string& path, std::string_view contents, DiskError& error) {
    if (HasNul(path)) {
        error = {"writing", path, "a NUL byte in the name"};
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
        error = {"renaming " + temporary + " to", path, std::strerror(errno)};
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
