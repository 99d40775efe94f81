// The file class on POSIX descriptors, for every backend but Win32.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "framework/afxfile.h"
#include "framework/posix/file_kind.h"

namespace {

int Fd(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)) - 1;
}
void* Handle(int fd) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
}
std::string Reason(int error) {
    return std::strerror(error);
}

}  // namespace

CFile::CFile(const std::string& path, UINT) : m_path(path) {
    // Opened without blocking, then looked at through the descriptor itself:
    // a FIFO with no writer, or a device, would otherwise hold the open (or
    // the first read) for ever, and a look at the path before opening could
    // be answered by another file than the one then opened.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw CFileException("opening", path, Reason(errno));
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        throw CFileException("opening", path, Reason(err));
    }
    if (S_ISDIR(st.st_mode)) {
        close(fd);
        throw CFileException("reading", path, Reason(EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        throw CFileException("opening", path, NotARegularFile(st.st_mode));
    }
    // A regular file never blocks; reads wait for the disk as usual.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = Handle(fd);
}

CFile::~CFile() {
    Close();
}

void CFile::SeekToBegin() {
    if (m_handle && lseek(Fd(m_handle), 0, SEEK_SET) < 0) {
        throw CFileException("seeking in", m_path, Reason(errno));
    }
}

UINT CFile::Read(void* buffer, UINT nCount) {
    if (m_handle == nullptr) {
        throw CFileException("reading", m_path, Reason(EBADF));
    }
    // One request may come back short before the end: read until the count
    // is met or the file ends.
    auto* out = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < nCount) {
        const ssize_t n = read(Fd(m_handle), out + done, nCount - done);
        if (n > 0) {
            done += static_cast<UINT>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            throw CFileException("reading", m_path, Reason(errno));
        }
    }
    return done;
}

void CFile::Close() {
    if (m_handle) {
        close(Fd(m_handle));
        m_handle = nullptr;
    }
}
