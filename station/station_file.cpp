// Reading and writing the station file (its format: station_file.h).
#include "station/station_file.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <string_view>

#include "disk/disk_file.h"
#include "serial/port_names.h"
#include "station/password.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t more = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (s.size() - i <= more) {
            return false;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) {
                return false;
            }
        }
        i += more + 1;
    }
    return true;
}

bool HasControl(std::string_view s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) {
            return true;
        }
    }
    return false;
}

bool ParseTimeout(std::string_view text, double& seconds) {
    double x = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, x);
    if (failure != std::errc() || stop != end || !std::isfinite(x) || !(x >= kMinTimeoutSeconds) ||
        x > kMaxTimeoutSeconds) {
        return false;
    }
    seconds = x;
    return true;
}

// A whole number in base 10 or 16, digits only, that fits 64 bits.
bool ParseWhole(std::string_view text, int base, std::uint64_t& n) {
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return false;
    }
    const auto [stop, failure] = std::from_chars(text.data(), text.data() + text.size(), n, base);
    return failure == std::errc() && stop == text.data() + text.size();
}

// A whole number of units, digits only.
bool ParseLimit(std::string_view text, int& limit) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxLimit) {
        return false;
    }
    limit = n;
    return true;
}

bool ParseSha256(std::string_view text, std::string& hex) {
    if (text.size() != 64) {
        return false;
    }
    std::string lower;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            lower += c;
        } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
            lower += static_cast<char>(c | 0x20);
        } else {
            return false;
        }
    }
    hex = std::move(lower);
    return true;
}

std::string FormatNumber(double x) {
    char text[64];
    const auto [end, failure] = std::to_chars(text, text + sizeof text, x);
    return failure == std::errc() ? std::string(text, end) : std::string("0");
}

// What the parser knows of the keys given so far.
struct Seen {
    int type = 0, image = 0, sha256 = 0, record = 0, timeout = 0, limit = 0, password = 0;
    int serialFirst = 0, serialLast = 0, serialStep = 0, serialOffset = 0, serialFormat = 0;
    int requireScan = 0;     // the lines each key was given on
    std::vector<int> ports;  // each port's line
};

// One "key = value" line (number n) into s; an error text, or empty.
std::string TakeSetting(std::string_view key, std::string_view value, int n, Seen& seen,
                        StationSettings& s) {
    const std::string where = "line " + std::to_string(n) + ": ";
    int* line = key == "type"            ? &seen.type
                : key == "image"         ? &seen.image
                : key == "sha256"        ? &seen.sha256
                : key == "record"        ? &seen.record
                : key == "timeout"       ? &seen.timeout
                : key == "limit"         ? &seen.limit
                : key == "serial_first"  ? &seen.serialFirst
                : key == "serial_last"   ? &seen.serialLast
                : key == "serial_step"   ? &seen.serialStep
                : key == "serial_offset" ? &seen.serialOffset
                : key == "serial_format" ? &seen.serialFormat
                : key == "require_scan"  ? &seen.requireScan
                : key == "password"      ? &seen.password
                                         : nullptr;
    if (line == nullptr && key != "port") {
        return where + "unknown key \"" + std::string(key) + "\"";
    }
    if (line != nullptr && *line != 0) {
        return where + std::string(key) + " is given twice (first on line " +
               std::to_string(*line) + ")";
    }
    if (line != nullptr) {
        *line = n;
    }
    if (key == "type") {
        if (value.size() != 1 || value[0] < '0' || value[0] > '2') {
            return where + "type takes 0, 1 or 2";
        }
        s.type = value[0] - '0';
    } else if (key == "sha256") {
        if (!ParseSha256(value, s.sha256)) {
            return where + "sha256 takes 64 hex digits";
        }
    } else if (key == "timeout") {
        if (!ParseTimeout(value, s.timeoutSeconds)) {
            return where + "timeout takes " + kTimeoutRangeWords;
        }
    } else if (key == "limit") {
        if (!ParseLimit(value, s.limit)) {
            return where + "limit takes " + kLimitRangeWords;
        }
    } else if (key == "serial_first" || key == "serial_last" || key == "serial_step") {
        std::uint64_t n = 0;
        if (!ParseWhole(value, 10, n) || (key == "serial_step" && n == 0)) {
            return where + std::string(key) +
                   (key == "serial_step" ? " takes a whole number from 1"
                                         : " takes a whole number");
        }
        (key == "serial_first"  ? s.serial.first
         : key == "serial_last" ? s.serial.last
                                : s.serial.step) = n;
        s.serial.enabled = true;
    } else if (key == "serial_offset") {
        std::uint64_t n = 0;
        const bool hex = value.starts_with("0x") || value.starts_with("0X");
        if (!ParseWhole(hex ? value.substr(2) : value, hex ? 16 : 10, n) || n > 0xFFFFFFFF) {
            return where + "serial_offset takes a byte offset (decimal, or hex after 0x)";
        }
        s.serial.offset = static_cast<std::uint32_t>(n);
        s.serial.enabled = true;
    } else if (key == "require_scan") {
        if (value != "yes" && value != "no") {
            return where + "require_scan takes yes or no";
        }
        s.requireScan = value == "yes";
    } else if (key == "serial_format") {
        if (!ParseSerialFormat(std::string(value), s.serial)) {
            return where +
                   "serial_format takes dec:W or hex:W (W from 1 to 20), u16le, u16be, "
                   "u32le or u32be";
        }
        s.serial.enabled = true;
    } else if (key == "password") {
        PasswordHash hash;
        std::string why;
        if (!ParsePasswordHash(value, hash, why)) {
            return where + "password " + why;
        }
        s.password = FormatPasswordHash(hash);
    } else if (value.empty()) {
        return where + std::string(key) + " takes a name, not nothing";
    } else if (key == "image") {
        s.image = value;
    } else if (key == "record") {
        s.record = value;
    } else {
        // One port however it is spelt: COM3, com3 and \\.\COM3 on Windows.
        const std::string port = PortNameKey(std::string(value));
        for (std::size_t p = 0; p < s.ports.size(); ++p) {
            if (PortNameKey(s.ports[p]) == port) {
                return where + "port " + std::string(value) + " is already position " +
                       std::to_string(p + 1) + ", as " + s.ports[p] + " on line " +
                       std::to_string(seen.ports[p]);
            }
        }
        s.ports.emplace_back(value);
        seen.ports.push_back(n);
    }
    return {};
}

}  // namespace

bool ParseStationFile(const std::string& text, StationSettings& settings, std::string& error) {
    std::string_view rest = text;
    if (rest.starts_with(kBom)) {
        rest.remove_prefix(kBom.size());
    }
    StationSettings s;
    Seen seen;
    for (int n = 1; !rest.empty(); ++n) {
        const std::size_t end = rest.find('\n');
        std::string_view raw = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (raw.ends_with('\r')) {
            raw.remove_suffix(1);
        }
        const std::string where = "line " + std::to_string(n) + ": ";
        if (!IsUtf8(raw)) {
            error = where + "not UTF-8 text";
            return false;
        }
        if (HasControl(raw)) {
            error = where + "a control character";
            return false;
        }
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = where + "not \"key = value\" (no \"=\")";
            return false;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        if (key.empty()) {
            error = where + "no key before \"=\"";
            return false;
        }
        error = TakeSetting(key, Trim(line.substr(equals + 1)), n, seen, s);
        if (!error.empty()) {
            return false;
        }
    }
    if (seen.type == 0) {
        error = "no type given";
    } else if (seen.image == 0) {
        error = "no image given";
    } else if (s.ports.empty()) {
        error = "no port given";
    } else if (s.ports.size() > static_cast<std::size_t>(kMaxPositions)) {
        error = std::to_string(s.ports.size()) + " ports: a station has at most " +
                std::to_string(kMaxPositions);
    } else if (s.serial.enabled && (seen.serialFirst == 0 || seen.serialLast == 0 ||
                                    seen.serialOffset == 0 || seen.serialFormat == 0)) {
        error = "serial numbers need serial_first, serial_last, serial_offset and serial_format";
    } else if (s.serial.enabled && !CheckSerialPlan(s.serial, error)) {
        error = "line " + std::to_string(seen.serialLast) + ": " + error;
    } else if (s.serial.enabled && s.record.empty()) {
        error = "serial numbers need a record file, beside which the next number is kept";
    } else if (s.limit > 0 && s.record.empty()) {
        error = "line " + std::to_string(seen.limit) +
                ": limit needs a record file, which keeps the count across restarts";
    } else {
        settings = std::move(s);
        return true;
    }
    return false;
}

std::string FormatStationFile(const StationSettings& s) {
    std::string text =
        "# Station file of the download tool: the image a production station\n"
        "# programs and the port of each fixture position, position 1 first.\n"
        "# One \"key = value\" a line; lines starting with \"#\" are comments.\n";
    text += "type = " + std::to_string(s.type) + "\n";
    text += "image = " + s.image + "\n";
    if (!s.sha256.empty()) {
        std::string lower = s.sha256;
        for (char& c : lower) {
            if (c >= 'A' && c <= 'F') {
                c = static_cast<char>(c | 0x20);
            }
        }
        text += "sha256 = " + lower + "\n";
    }
    if (!s.record.empty()) {
        text += "record = " + s.record + "\n";
    }
    for (const std::string& port : s.ports) {
        text += "port = " + port + "\n";
    }
    text += "timeout = " + FormatNumber(s.timeoutSeconds) + "\n";
    if (s.limit > 0) {
        text += "limit = " + std::to_string(s.limit) + "\n";
    }
    if (s.requireScan) {
        text += "require_scan = yes\n";
    }
    if (s.serial.enabled) {
        text += "serial_first = " + std::to_string(s.serial.first) + "\n";
        text += "serial_last = " + std::to_string(s.serial.last) + "\n";
        text += "serial_step = " + std::to_string(s.serial.step) + "\n";
        text += "serial_offset = " + std::to_string(s.serial.offset) + "\n";
        text += "serial_format = " + SerialFormatName(s.serial) + "\n";
    }
    if (!s.password.empty()) {
        text += "password = " + s.password + "\n";
    }
    return text;
}

bool ReadStationFileAsWritten(const std::string& path, StationSettings& settings,
                              std::string& error) {
    DiskFile file;
    DiskError failure;
    if (file.OpenToRead(path, failure) != DiskFile::Opened::Yes) {
        error = failure.Message();
        return false;
    }
    // One byte past the limit tells a file that is too large, without
    // reading the rest of it.
    std::string text(kMaxStationFileBytes + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const long long n = file.Read(text.data() + got, text.size() - got, failure);
        if (n < 0) {
            error = failure.Message();
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > kMaxStationFileBytes) {
        error = "reading " + path + ": larger than " + std::to_string(kMaxStationFileBytes / 1024) +
                " KiB, not a station file";
        return false;
    }
    text.resize(got);
    StationSettings read;
    if (!ParseStationFile(text, read, error)) {
        error = path + ": " + error;
        return false;
    }
    settings = read;
    return true;
}

bool ReadStationFile(const std::string& path, StationSettings& settings, std::string& error) {
    StationSettings read;
    if (!ReadStationFileAsWritten(path, read, error)) {
        return false;
    }
    // A file named without its folder is the station file's neighbour,
    // wherever the station was started from.
    const std::string folder = FolderOf(path);
    read.image = PathFrom(folder, read.image);
    read.record = PathFrom(folder, read.record);
    settings = read;
    return true;
}

std::string PathFrom(const std::string& folder, const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path named(std::u8string(path.begin(), path.end()));
    if (path.empty() || named.is_absolute() || named.has_root_name()) {
        return path;
    }
    std::error_code failed;
    const fs::path base =
        fs::absolute(fs::path(std::u8string(folder.begin(), folder.end())), failed);
    if (failed) {
        return path;
    }
    const std::u8string joined = (base / named).lexically_normal().u8string();
    return std::string(joined.begin(), joined.end());
}

std::string FolderOf(const std::string& path) {
    namespace fs = std::filesystem;
    const std::u8string folder =
        fs::path(std::u8string(path.begin(), path.end())).parent_path().u8string();
    return folder.empty() ? "." : std::string(folder.begin(), folder.end());
}

bool WriteStationFile(const std::string& path, const StationSettings& settings,
                      std::string& error) {
    bool control =
        HasControl(settings.image) || HasControl(settings.record) || HasControl(settings.password);
    for (const std::string& port : settings.ports) {
        control = control || HasControl(port);
    }
    if (control) {
        error = "writing " + path + ": a value holds a line break or another control character";
        return false;
    }
    const std::string text = FormatStationFile(settings);
    StationSettings back;
    if (!ParseStationFile(text, back, error)) {
        error = "writing " + path + ": " + error;
        return false;
    }
    StationSettings expected = settings;
    expected.sha256 = back.sha256;      // written in lower case
    expected.password = back.password;  // likewise
    if (!(back == expected)) {
        error = "writing " + path +
                ": a value begins or ends with a blank, which the file "
                "cannot keep";
        return false;
    }
    DiskError failure;
    if (!ReplaceFileWhole(path, text, failure)) {
        error = failure.Message();
        return false;
    }
    return true;
}
