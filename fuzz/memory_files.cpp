// The framework's file class on in-memory files (memory_files.h).
#include "fuzz/memory_files.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "framework/afxfile.h"

namespace memfile {
namespace {

struct File {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

struct OpenFile {
    File file;
    std::size_t pos = 0;
};

std::map<std::string, File>& Files() {
    static std::map<std::string, File> files;
    return files;
}

}  // namespace

void Put(const std::string& path, const std::uint8_t* bytes, std::size_t n) {
    Files()[path] = File{bytes, n};
}

void Remove(const std::string& path) {
    Files().erase(path);
}

}  // namespace memfile

using memfile::OpenFile;

CFile::CFile(const std::string& path, UINT) : m_path(path) {
    auto& files = memfile::Files();
    auto it = files.find(path);
    if (it == files.end()) {
        throw CFileException("opening", path, "No such file or directory");
    }
    m_handle = new OpenFile{it->second, 0};
}

CFile::~CFile() {
    Close();
}

void CFile::SeekToBegin() {
    if (m_handle) {
        static_cast<OpenFile*>(m_handle)->pos = 0;
    }
}

UINT CFile::Read(void* buffer, UINT nCount) {
    if (m_handle == nullptr) {
        throw CFileException("reading", m_path, "Bad file descriptor");
    }
    auto* f = static_cast<OpenFile*>(m_handle);
    const std::size_t n = std::min<std::size_t>(nCount, f->file.size - f->pos);
    if (n > 0) {
        std::memcpy(buffer, f->file.bytes + f->pos, n);
    }
    f->pos += n;
    return static_cast<UINT>(n);
}

std::uint64_t CFile::GetLength() const {
    return m_handle ? static_cast<OpenFile*>(m_handle)->file.size : 0;
}

void CFile::Close() {
    delete static_cast<OpenFile*>(m_handle);
    m_handle = nullptr;
}
