// The file class on the disk layer (disk/disk_file.h), the same on every
// backend: the layer words each failure, the class raises it.
#include <memory>

#include "disk/disk_file.h"
#include "framework/afxfile.h"

namespace {

DiskFile& Opened(void* handle) {
    return *static_cast<DiskFile*>(handle);
}

[[noreturn]] void Raise(const DiskError& e) {
    throw CFileException(e.operation, e.path, e.reason);
}

}  // namespace

CFile::CFile(const std::string& path, UINT) : m_path(path) {
    auto file = std::make_unique<DiskFile>();
    DiskError error;
    if (file->OpenToRead(path, error) != DiskFile::Opened::Yes) {
        Raise(error);
    }
    m_handle = file.release();
}

CFile::~CFile() {
    Close();
}

void CFile::SeekToBegin() {
    DiskError error;
    if (m_handle && !Opened(m_handle).Rewind(error)) {
        Raise(error);
    }
}

UINT CFile::Read(void* buffer, UINT nCount) {
    DiskError error;
    if (m_handle == nullptr) {
        Raise({"reading", m_path, "the file is not open"});
    }
    // One request may come back short before the end: read until the count
    // is met or the file ends.
    auto* out = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < nCount) {
        const long long n = Opened(m_handle).Read(out + done, nCount - done, error);
        if (n < 0) {
            Raise(error);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<UINT>(n);
    }
    return done;
}

std::uint64_t CFile::GetLength() const {
    DiskError error;
    const long long size = m_handle ? Opened(m_handle).Size(error) : -1;
    if (size < 0) {
        Raise(m_handle ? error : DiskError{"looking at", m_path, "the file is not open"});
    }
    return static_cast<std::uint64_t>(size);
}

void CFile::Close() {
    delete static_cast<DiskFile*>(m_handle);
    m_handle = nullptr;
}
