// The file class on Win32 file handles.
#include "framework/afxfile.h"
#include "framework/win32/win32.h"

CFile::CFile(const std::string& path, UINT) : m_path(path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw CFileException("opening", path, win32::SystemMessage(GetLastError()));
    }
    // Only a file on a disk is an image: a pipe or a device (a COM port
    // named by mistake) could make a read wait for ever.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        throw CFileException("opening", path, "Not a regular file (a pipe or a device)");
    }
    m_handle = h;
}

CFile::~CFile() {
    Close();
}

void CFile::SeekToBegin() {
    if (m_handle &&
        ::SetFilePointer(m_handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        throw CFileException("seeking in", m_path, win32::SystemMessage(GetLastError()));
    }
}

UINT CFile::Read(void* buffer, UINT nCount) {
    DWORD got = 0;
    if (m_handle == nullptr || !::ReadFile(m_handle, buffer, nCount, &got, nullptr)) {
        throw CFileException("reading", m_path, win32::SystemMessage(GetLastError()));
    }
    return got;
}

void CFile::Close() {
    if (m_handle) {
        ::CloseHandle(m_handle);
        m_handle = nullptr;
    }
}
