// The image as the records describe it, and the record lines.
#include "station/records.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "dt_version.h"
#include "framework/afxfile.h"
#include "image/machine_types.h"
#include "station/json.h"
#include "station/sha256.h"

// By the calendar of <chrono>: the same on every platform, and no shared
// buffer for units that end at once.
std::string UtcTime(std::time_t t) {
    using namespace std::chrono;
    const auto when = time_point_cast<seconds>(system_clock::from_time_t(t));
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

bool ReadImage(const std::string& path, LoadedImage& image, std::string& error) {
    std::vector<std::uint8_t> bytes(kImageCapacity);
    std::uint64_t size = 0;
    try {
        CFile file(path, CFile::modeRead | CFile::typeBinary);
        // One request for what the dialog takes, as its Load File makes;
        // the file's size, for the record of a file that was cut, is asked
        // of the system rather than read.
        const UINT n = file.Read(bytes.data(), static_cast<UINT>(bytes.size()));
        bytes.resize(n);
        size = n == kImageCapacity ? std::max<std::uint64_t>(file.GetLength(), n) : n;
    } catch (const CFileException& e) {
        error = e.Message();
        return false;
    }
    // Nothing to program: every unit would be "done" without a byte sent.
    if (bytes.empty()) {
        error = "reading " + path + ": the file is empty, not an image";
        return false;
    }
    std::string sha256 = Sha256Hex(bytes);
    if (sha256.empty()) {
        // No fingerprint, no pin to check nor record to write.
        error = "reading " + path + ": the system could not compute its SHA-256";
        return false;
    }
    image.sha256 = std::move(sha256);
    image.bytes = std::move(bytes);
    image.fileSize = size;
    return true;
}

std::string RecordLine(int type, const std::string& imagePath, const UnitOutcome& u,
                       const LoadedImage& image, const std::string& station, int position) {
    // Where the unit was programmed: the station, its position, the port
    // and its adapter as far as they are known.
    std::string where = ",\"station\":" + JsonString(station) +
                        ",\"version\":" + JsonString(DT_VERSION) +
                        (position > 0 ? ",\"position\":" + std::to_string(position) : "") +
                        ",\"port\":" + JsonString(u.port);
    if (!u.portName.empty() && u.portName != u.port) {
        where += ",\"port_name\":" + JsonString(u.portName);
    }
    if (!u.adapterSerial.empty()) {
        where += ",\"adapter_serial\":" + JsonString(u.adapterSerial);
    }
    if (!u.adapterLocation.empty()) {
        where += ",\"adapter_location\":" + JsonString(u.adapterLocation);
    }
    return "{\"time\":" + JsonString(UtcTime(std::time(nullptr))) + where +
           ",\"type\":" + std::to_string(type) +
           ",\"machine\":" + JsonString(kMachineTypes[static_cast<std::size_t>(type)].name) +
           ",\"image\":" + JsonString(imagePath) +
           ",\"size\":" + std::to_string(image.bytes.size()) +
           ",\"sha256\":" + JsonString(image.sha256) +
           (image.Cut() ? ",\"file_size\":" + std::to_string(image.fileSize) : std::string()) +
           (u.unitId.empty() ? std::string() : ",\"unit_id\":" + JsonString(u.unitId)) +
           (u.serial ? ",\"unit_serial\":" + std::to_string(*u.serial) : std::string()) +
           (u.sentSha256.empty() ? std::string() : ",\"sent_sha256\":" + JsonString(u.sentSha256)) +
           ",\"seconds\":" + std::to_string(u.seconds) +
           ",\"repeats\":" + std::to_string(u.repeats) +
           ",\"result\":" + JsonString(ResultName(u.result)) +
           ",\"reason\":" + JsonString(u.reason) + "}\n";
}
