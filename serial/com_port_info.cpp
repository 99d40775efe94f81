// Turning what SetupAPI tells of COM port devices into port descriptions.
#include "serial/com_port_info.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "serial/serial_port.h"

namespace {

constexpr std::size_t kMaxText = 256;
constexpr unsigned kMaxComNumber = 4096;

// A text as the rest of the code may use it: cut at a NUL (a registry
// string may hold one) and to kMaxText, without blanks at either end.
std::string Clean(std::string_view s) {
    s = s.substr(0, std::min(s.find('\0'), kMaxText));
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(s[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Where `key` ("VID_") begins a field of an id: at its start or after one
// of the separators Windows' ids use ('\', '&', '+').
std::size_t FindField(std::string_view id, std::string_view key) {
    for (std::size_t at = 0; at + key.size() <= id.size(); ++at) {
        const bool fieldStart =
            at == 0 || id[at - 1] == '\\' || id[at - 1] == '&' || id[at - 1] == '+';
        if (fieldStart && StartsWithNoCase(id.substr(at), key)) {
            return at;
        }
    }
    return std::string_view::npos;
}

// The four hex digits after `key` in `id`, lower case; empty when there are
// not exactly four.
std::string HexField(std::string_view id, std::string_view key) {
    const std::size_t at = FindField(id, key);
    if (at == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = id.substr(at + key.size());
    std::string digits;
    for (const char c : rest) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            break;
        }
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return digits.size() == 4 ? digits : std::string();
}

// Splits an instance id at its backslashes: "USB", "VID_0403&PID_6001",
// "A1B2C3D4".
std::vector<std::string_view> IdParts(std::string_view id) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = id.find('\\', start);
        parts.push_back(id.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// A whole USB device's instance id: "USB\VID_...\INSTANCE", not one
// interface of a composite device ("&MI_00") and not a hub without ids.
bool IsUsbDeviceId(std::string_view id) {
    const auto parts = IdParts(id);
    return parts.size() == 3 && EqualNoCase(parts[0], "USB") &&
           !HexField(parts[1], "VID_").empty() &&
           FindField(parts[1], "MI_") == std::string_view::npos;
}

bool IsUsbId(std::string_view id) {
    return StartsWithNoCase(id, "USB\\") || StartsWithNoCase(id, "FTDIBUS\\");
}

// The one record's strings, cleaned, with the port itself first among the
// devices it hangs under.
struct Cleaned {
    std::string portName;
    std::string friendlyName;
    std::vector<std::string> hardwareIds;
    std::string manufacturer;
    std::string service;
    std::vector<DeviceNodeRecord> nodes;  // the port's own, then its parents'
};

Cleaned CleanRecord(const ComPortRecord& r) {
    Cleaned c;
    c.portName = Clean(r.portName);
    c.friendlyName = Clean(r.friendlyName);
    for (const std::string& id : r.hardwareIds) {
        c.hardwareIds.push_back(Clean(id));
    }
    c.manufacturer = Clean(r.manufacturer);
    c.service = Clean(r.service);
    c.nodes.push_back({Clean(r.instanceId), Clean(r.location)});
    for (const DeviceNodeRecord& parent : r.parents) {
        c.nodes.push_back({Clean(parent.instanceId), Clean(parent.location)});
    }
    return c;
}

std::optional<PortDescription> Describe(const ComPortRecord& record) {
    const Cleaned r = CleanRecord(record);
    const unsigned number = ComPortNumber(r.portName);
    if (number == 0) {
        return std::nullopt;
    }
    PortDescription port;
    port.device = ComPortName(number);
    port.friendlyName = r.friendlyName;
    port.manufacturer = r.manufacturer;
    port.driver = r.service;

    // The ids that may carry VID and PID, the most telling first.
    std::vector<std::string_view> ids(r.hardwareIds.begin(), r.hardwareIds.end());
    for (const DeviceNodeRecord& node : r.nodes) {
        ids.push_back(node.instanceId);
    }
    for (const std::string_view id : ids) {
        const std::string vendor = HexField(id, "VID_");
        if (!vendor.empty()) {
            port.vendorId = vendor;
            port.productId = HexField(id, "PID_");
            break;
        }
    }

    const bool onUsb =
        std::any_of(ids.begin(), ids.end(), [](std::string_view id) { return IsUsbId(id); });
    port.kind = EqualNoCase(r.service, "usbser") ? "acm" : onUsb ? "usb" : "uart";

    for (const DeviceNodeRecord& node : r.nodes) {
        if (IsUsbDeviceId(node.instanceId)) {
            const std::string_view instance = IdParts(node.instanceId)[2];
            if (instance.find('&') == std::string_view::npos) {
                port.serialNumber = std::string(instance);
            }
            port.location = node.location;
            break;
        }
    }
    return port;
}

int KindRank(const std::string& kind) {
    return kind == "usb" ? 0 : kind == "acm" ? 1 : 2;
}

}  // namespace

unsigned ComPortNumber(const std::string& portName) {
    const std::string name = Clean(portName);
    if (name.size() < 4 || !StartsWithNoCase(name, "COM") || name[3] == '0') {
        return 0;
    }
    unsigned number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
        if (number > kMaxComNumber) {
            return 0;
        }
    }
    return number;
}

std::vector<PortDescription> DescribeComPorts(const std::vector<ComPortRecord>& records) {
    std::vector<std::pair<unsigned, PortDescription>> found;  // COM number, port
    for (const ComPortRecord& record : records) {
        std::optional<PortDescription> port = Describe(record);
        if (!port) {
            continue;
        }
        const unsigned number = ComPortNumber(record.portName);
        const bool taken = std::any_of(found.begin(), found.end(),
                                       [&](const auto& f) { return f.first == number; });
        if (!taken) {
            found.emplace_back(number, std::move(*port));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::make_pair(KindRank(a.second.kind), a.first) <
               std::make_pair(KindRank(b.second.kind), b.first);
    });
    std::vector<PortDescription> ports;
    ports.reserve(found.size());
    for (auto& f : found) {
        ports.push_back(std::move(f.second));
    }
    return ports;
}
