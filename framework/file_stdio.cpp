// The file class on the C library's streams, for every backend but Win32.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/afxfile.h"

namespace {
std::FILE* Stream(void* handle) {
    return static_cast<std::FILE*>(handle);
}
std::string Reason(int error) {
    return std::strerror(error);
}
}  // namespace

CFile::CFile(const std::string& path, UINT) : m_path(path) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        throw CFileException("opening", path, Reason(errno ? errno : ENOENT));
    }
    m_handle = f;
}

CFile::~CFile() {
    Close();
}

void CFile::SeekToBegin() {
    if (m_handle && std::fseek(Stream(m_handle), 0, SEEK_SET) != 0) {
        throw CFileException("seeking in", m_path, Reason(errno));
    }
}

UINT CFile::Read(void* buffer, UINT nCount) {
    if (m_handle == nullptr) {
        throw CFileException("reading", m_path, Reason(EBADF));
    }
    errno = 0;
    const std::size_t n = std::fread(buffer, 1, nCount, Stream(m_handle));
    if (n < nCount && std::ferror(Stream(m_handle))) {
        throw CFileException("reading", m_path, Reason(errno ? errno : EIO));
    }
    return static_cast<UINT>(n);
}

void CFile::Close() {
    if (m_handle) {
        std::fclose(Stream(m_handle));
        m_handle = nullptr;
    }
}
