// The framework's file class and its error.
//
// CFile reads regular files, on the disk layer (disk/disk_file.h): paths
// are UTF-8 on every system, and a FIFO, a device or a folder is refused at
// once, never waited on. Every failure (the file cannot be opened or is
// refused, a read fails) is raised as CFileException, which names the
// operation, the file and the system's reason. An exception that escapes a command handler is
// reported by the framework in a message box (afxwin.h); code above this layer does not catch it.
#pragma once

#include <cstdint>
#include <string>

#include "framework/afxwin.h"

class CFileException {
  public:
    CFileException(std::string operation, std::string path, std::string reason);
    // "reading C:\fw\a.UPL: Access is denied", PuTTY's shape.
    std::string Message() const;
    void ReportError() const;  // the framework's message box

    std::string m_operation, m_path, m_reason;
};

class CFile {
  public:
    enum OpenFlags : UINT { modeRead = 0x0000, shareDenyNone = 0x0040, typeBinary = 0x8000 };

    CFile(const std::string& path, UINT nOpenFlags);  // throws CFileException
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    void SeekToBegin();
    // One read request of at most nCount bytes; returns the number read,
    // which is less than nCount only at the end of the file.
    UINT Read(void* buffer, UINT nCount);
    // The file's size now, without reading it.
    std::uint64_t GetLength() const;
    void Close();

  private:
    std::string m_path;
    void* m_handle = nullptr;  // the open DiskFile (the fuzzer's files in memory: their own)
};
