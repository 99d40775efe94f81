// The --record file: one JSON line per unit, none ever lost without a word.
//
// The file is opened (created if need be) once, before the first unit, so
// that a path that cannot be written is refused before anything is
// programmed; it is never waited on, and what is not a regular file (a
// FIFO, a device, a folder) is refused.
//
// The file is always whole lines, but for what was cut short outside our
// hands. A file that ends inside a line (the power failed while it was
// written) keeps that fragment, as evidence; the next record starts on a
// line of its own after it, and readers count the fragment as unreadable.
// A write that fails part-way is cut back off the file.
//
// Each line is appended whole, in one write to a file opened for appending
// (so lines of units that end at once, or of other programs appending to
// the same file, never interleave), and flushed to the disk (fsync,
// FlushFileBuffers) before Append returns.
//
// The path is UTF-8 on every system (disk/disk_file.h, the layer it rests
// on). Errors are the reasons alone: the caller says which file and what
// for ("opening PATH: ", "writing a record to PATH: ").
#pragma once

#include <string>

#include "disk/disk_file.h"

class RecordFile {
  public:
    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens path for appending, creating it if it is not there. False, with
    // the system's reason in error, when it cannot.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return m_file.IsOpen(); }
    // Appends line (which ends in a newline) in one write, then flushes it
    // to the disk. False, with the system's reason in error, when the write
    // or the flush failed or took fewer bytes than the line has.
    bool Append(const std::string& line, std::string& error);

  private:
    // The file's last byte is not a line break: something before was cut
    // short.
    bool EndsInsideALine();

    DiskFile m_file;
};
