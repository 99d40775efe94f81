// The --record file on the disk layer: a file opened for appending, one
// write a line, flushed to the disk.
#include "station/record_file.h"

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
    // A line cut short would be a broken record, and the rest written on
    // its own could interleave with another writer's: one write or nothing.
    if (!m_file.Append(line, failure)) {
        error = failure.reason;
        return false;
    }
    if (!m_file.Flush(failure)) {
        error = "flushing to the disk: " + failure.reason;
        return false;
    }
    return true;
}
