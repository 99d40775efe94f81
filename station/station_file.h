// The station file: what a production station programs and the port of
// each fixture position, kept in a small text file that people write by
// hand and the station window writes back.
//
// The file's format
// -----------------
// Plain text in UTF-8; LF or CRLF line ends; a UTF-8 byte-order mark at the
// start is skipped. Each line is one of:
//
//     (nothing, or only blanks)           ignored
//     # any text                          a comment: the first character
//                                         that is not a blank is "#"
//     key = value                         a setting
//
// A setting is split at its first "=", and both sides are trimmed of
// blanks (spaces and tabs). The value is taken as it is written: it may
// hold blanks, further "=" and "#", and backslashes are not escapes, so
// Windows names such as C:\fw\a b.UPL or \\.\COM17 are written plainly,
// in UTF-8 as the rest of the file (C:\Линия 3\a.UPL).
// A value cannot begin or end with a blank, nor hold a line break or
// another control character. Keys are written in lower case:
//
//     type     the machine type: 0 (Lorvane 300), 1 (Quenta 5X) or
//              2 (ZT418). Required.
//     image    the firmware image to program. Required.
//     sha256   the image's SHA-256, 64 hex digits in either case: the
//              station refuses another image. Optional.
//     record   the record file, where each unit's line is appended.
//              Optional.
//     port     a fixture position's port, given 1 to 16 times: the first
//              is position 1, the next position 2, and so on. A device
//              name (/dev/ttyUSB3, COM3, COM17, \\.\COM17) or an adapter's
//              name (serial:FT1A2B3C, location:1-1.4), as
//              serial/port_names.h reads it; kept as written. No port
//              twice, however it is spelt: on Windows COM3, com3 and
//              \\.\COM3 are one port, and serial:ft1a2b3c is serial:FT1A2B3C
//              everywhere.
//     timeout  seconds of silence after the machine's first answer before
//              a unit is given up; a number from 1 to 3600 (10 when not
//              given), the same range as the setup dialog's.
//     limit    how many units the station programs ("done") in all, counted
//              from every done unit in the record file, so that it holds
//              across restarts: a whole number from 1 to 10000000. Needs a
//              record file. Optional.
//     serial_first, serial_last, serial_step
//              the serial numbers written into the units: from the first
//              to the last, step apart (1 when not given); whole numbers.
//     serial_offset
//              where a unit's number is written: the offset of its first
//              byte in the image as sent, in decimal or 0x hex.
//     serial_format
//              how it is written: dec:W or hex:W (W digits of text, zero
//              padded, hex in upper case; W from 1 to 20), u16le, u16be,
//              u32le or u32be (an integer of 2 or 4 bytes).
//              The serial keys come together (but serial_step), and need a
//              record file: the next number is kept beside it
//              (station/serial_numbers.h).
//     require_scan
//              yes: a position programs a unit only once its ID has been
//              scanned (Station::BindUnitId); no (when not given): IDs may
//              be scanned, and are recorded when they are.
//     password the supervisor's password, which unlocking the station
//              window's settings asks for: never the password itself, but
//              a salted, slow hash of it (station/password.h),
//                  pbkdf2-sha256$ITERATIONS$SALT$HASH
//              PBKDF2 with HMAC-SHA256 over ITERATIONS rounds (1000 to
//              10000000; 600000 when written by the station), a SALT of 16
//              to 128 hex digits and a HASH of 64, hex in either case.
//              download-station --set-password FILE writes it. Optional:
//              without it unlocking asks only for a confirmation.
//
// Every key but port is given at most once. Example:
//
//     # Line 3, fixture B
//     type = 1
//     image = /srv/firmware/FIRMWARE.UPL
//     sha256 = 9b7a178935852f0d391e73aa7cc5ffbeb0a4c184f3903000daee6a676a5dec54
//     record = /var/log/station/units.jsonl
//     port = serial:FT1A2B3C
//     port = location:1-1.4
//     port = /dev/ttyUSB3
//     timeout = 10
//     password = pbkdf2-sha256$600000$5f1c...$9e0b...
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "station/serial_numbers.h"

// A station has at most this many fixture positions.
inline constexpr int kMaxPositions = 16;
// A station file larger than this is refused unread.
inline constexpr std::size_t kMaxStationFileBytes = 64 * 1024;
inline constexpr double kDefaultTimeoutSeconds = 10;
// The silence timeout's range, wherever a station's is set: below a second
// every unit would end as silent; an hour is the station's safety net.
inline constexpr double kMinTimeoutSeconds = 1;
inline constexpr double kMaxTimeoutSeconds = 3600;
// How the range is said, in the station file's errors and the dialog's.
inline constexpr char kTimeoutRangeWords[] = "a number of seconds from 1 to 3600";
// The limit's range, and how it is said.
inline constexpr int kMaxLimit = 10000000;
inline constexpr char kLimitRangeWords[] = "a whole number of units from 1 to 10000000";

struct StationSettings {
    int type = 0;
    std::string image;
    std::string sha256;              // lower case, or empty
    std::string record;              // empty: no record file
    std::vector<std::string> ports;  // position 1 first
    double timeoutSeconds = kDefaultTimeoutSeconds;
    int limit = 0;             // units done in all; 0: none
    SerialPlan serial;         // serial numbers written into each unit
    bool requireScan = false;  // a unit ID scanned before each unit
    // The supervisor's password hash as the file writes it
    // (FormatPasswordHash: hex in lower case), or empty: none.
    std::string password;

    bool operator==(const StationSettings&) const = default;
};

// Reads a station file's text. On success fills settings and returns true;
// otherwise returns false, leaves settings as they were and says why in
// error, naming the line where there is one ("line 4: unknown key
// \"prot\"", "no port given").
bool ParseStationFile(const std::string& text, StationSettings& settings, std::string& error);

// The text of a station file holding settings, led by a comment that says
// what the file is. ParseStationFile reads it back to the same settings
// when they are settings it could have read (sha256 in lower case, no
// value with blanks at its ends); WriteStationFile checks that it does.
std::string FormatStationFile(const StationSettings& settings);

// Reads the station file at path as ReadStationFile does, but keeps the
// names of the image and the record file as the file writes them, for a
// tool that writes the file back (download-station --set-password).
bool ReadStationFileAsWritten(const std::string& path, StationSettings& settings,
                              std::string& error);

// Reads and parses the station file at path (UTF-8, on every system). An
// image or a record file named without its folder ("units.jsonl",
// "fw/a.UPL") is taken from the station file's folder, wherever the
// station was started from, and its path is given whole in settings. A
// path that is not a regular file (a FIFO, a device, a folder) is refused
// without waiting on it, and so is a file larger than kMaxStationFileBytes.
// Errors name the operation and the file: "opening PATH: No such file or
// directory", "PATH: line 4: unknown key \"prot\"".
bool ReadStationFile(const std::string& path, StationSettings& settings, std::string& error);

// path as named from folder: itself when it is empty or absolute, else
// folder (made absolute from the working folder) and path joined. UTF-8.
std::string PathFrom(const std::string& folder, const std::string& path);
// The folder that holds the file at path: "." when path names none.
std::string FolderOf(const std::string& path);

// Writes settings to path, replacing the file there whole: the text goes
// to a new file beside it, is flushed to the disk, and is then renamed over
// the old one, so that a crash leaves either the old file or the new one,
// never a part of either. Settings that would not read back as they are
// are refused before anything is written.
bool WriteStationFile(const std::string& path, const StationSettings& settings, std::string& error);
