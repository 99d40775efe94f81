// The --record file on the disk layer: a file opened for appending, one
// write a line, flushed to the disk.
#include "station/record_file.h"

#include <cstdint>

bool RecordFile::Open(const std::string& path, std::string& error) {
    DiskError failure;
    if (!m_file.OpenToAppend(path, failure)) {
        error = failure.reason;
        return false;
    }
    return true;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
    DiskError failure;
    // A file left ending inside a line (the power failed, or the disk
    // filled, while it was written) keeps that fragment as it is; the new
    // record starts on a line of its own rather than glued onto it.
    const std::string whole = EndsInsideALine() ? "\n" + line : line;
    // A line cut short would be a broken record, and the rest written on
    // its own could interleave with another writer's: one write or nothing.
    if (!m_file.Append(whole, failure)) {
        error = failure.reason;
        return false;
    }
    if (!m_file.Flush(failure)) {
        error = "flushing to the disk: " + failure.reason;
        return false;
    }
    return true;
}

bool RecordFile::EndsInsideALine() {
    DiskError failure;
    const long long size = m_file.Size(failure);
    char last = '\n';
    if (size > 0 && m_file.ReadAt(static_cast<std::uint64_t>(size - 1), &last, 1, failure) < 0) {
        // A file that grants only appending: a line break too many makes a
        // blank line, which readers pass over; one too few would break a
        // record.
        return true;
    }
    return last != '\n';
}
