// What a production station keeps of its units: the image read once from
// its file, and one record line per unit, the same from download-cli and
// from the station window, so that one log shipper collects both.
#pragma once

#include <ctime>
#include <string>

#include "station/unit.h"

// A time as every line of the record file gives it: in UTC, to the second,
// as 2026-12-10T08:15:00Z.
std::string UtcTime(std::time_t t);

// Reads the image file once (through the same file layer as the dialog,
// so it refuses what that refuses): the bytes the dialog takes, at most its
// capacity, their SHA-256, and the whole file's size (asked of the system,
// not read). False, with the message, when it cannot, and for an empty
// file: a station never programs nothing and calls it done.
bool ReadImage(const std::string& path, LoadedImage& image, std::string& error);

// The record line of one unit (with its newline): what was programmed -
// the machine type, the image file as named, the bytes read from it, and
// the file's size when it was cut - where, and how it ended; with a serial
// number, the unit's ("unit_serial") and the SHA-256 of the bytes it was
// sent ("sent_sha256").
// station: this computer's name; position: the unit's fixture position
// from 1, or 0 for a unit programmed alone.
std::string RecordLine(int type, const std::string& imagePath, const UnitOutcome& u,
                       const LoadedImage& image, const std::string& station, int position);
