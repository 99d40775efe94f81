// Serial ports present on a Linux machine, read from sysfs at each call: no
// cache, so an adapter plugged in a moment ago is there and one pulled is
// gone. Elsewhere /sys/class/tty does not exist and nothing is found.
#include "serial/port_discovery.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its trailing blanks; empty
// when it cannot be read. Attributes are short; a long one is cut.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        return {};
    }
    std::string line;
    std::getline(in, line);
    if (line.size() > 256) {
        line.resize(256);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

// The name a sysfs link points at (a driver, a subsystem), or empty.
std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// Newer kernels put a generic port layer (bus "serial-base") between a
// UART's tty and its controller; the controller's driver is the one worth
// naming, and its UART type is what tells a placeholder.
fs::path Controller(fs::path device) {
    for (int depth = 0; depth < 4 && LinkName(device / "subsystem") == "serial-base"; ++depth) {
        device = device.parent_path();
    }
    return device;
}

// The USB device a tty hangs from: the nearest folder above that carries a
// vendor id (a hub above it carries one too). A few levels up at most
// (interface, then device). The kernel names that folder after the hub
// ports that lead to it ("1-1.4": bus 1, port 1, then port 4 of the hub
// there), which stays the same whatever ttyUSB number the adapter gets.
void ReadUsbDetails(fs::path device, PortDescription& port) {
    std::error_code ec;
    for (int depth = 0; depth < 5 && device.has_relative_path(); ++depth) {
        if (fs::exists(device / "idVendor", ec)) {
            port.vendorId = ReadAttribute(device / "idVendor");
            port.productId = ReadAttribute(device / "idProduct");
            port.manufacturer = ReadAttribute(device / "manufacturer");
            port.product = ReadAttribute(device / "product");
            port.serialNumber = ReadAttribute(device / "serial");
            port.location = device.filename().string();
            return;
        }
        device = device.parent_path();
    }
}

// /dev/serial/by-id holds links named after the adapter (vendor, product,
// serial number) that stay the same whichever ttyUSB number it gets.
std::string FindById(const fs::path& byIdDir, const std::string& ttyName) {
    std::error_code ec;
    std::vector<std::string> matches;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (LinkName(it->path()) == ttyName) {
            matches.push_back(it->path().string());
        }
    }
    std::sort(matches.begin(), matches.end());
    return matches.empty() ? std::string() : matches.front();
}

int KindRank(const std::string& kind) {
    return kind == "usb" ? 0 : kind == "acm" ? 1 : 2;
}

// "ttyUSB10" -> ("ttyUSB", 10): names sort by stem, then by number.
std::pair<std::string, long> SplitNumber(const std::string& name) {
    std::size_t cut = name.size();
    while (cut > 0 && std::isdigit(static_cast<unsigned char>(name[cut - 1]))) {
        --cut;
    }
    const std::string digits = name.substr(cut);
    // A run of digits too long for a long sorts last; no tty is named so.
    const long number = digits.empty() || digits.size() > 9 ? -1 : std::stol(digits);
    return {name.substr(0, cut), number};
}

}  // namespace

std::vector<PortDescription> DiscoverPorts(const DiscoveryRoots& roots) {
    const fs::path ttyClass = roots.ttyClass;
    const fs::path byIdDir = fs::path(roots.dev) / "serial" / "by-id";
    std::vector<std::pair<std::string, PortDescription>> found;  // tty name, port
    std::error_code ec;
    for (fs::directory_iterator it(ttyClass, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // Virtual consoles, pseudo-terminals and the like have no device.
        std::error_code linkError;
        const fs::path device = fs::canonical(it->path() / "device", linkError);
        if (linkError) {
            continue;
        }
        PortDescription port;
        port.device = (fs::path(roots.dev) / name).string();
        const std::string subsystem = LinkName(device / "subsystem");
        port.driver = LinkName(device / "driver");
        if (name.starts_with("ttyUSB") || subsystem == "usb-serial") {
            port.kind = "usb";
        } else if (name.starts_with("ttyACM") || port.driver == "cdc_acm") {
            port.kind = "acm";
        } else {
            port.kind = "uart";
            const fs::path controller = Controller(device);
            if (controller != device) {
                port.driver = LinkName(controller / "driver");
            }
            // The 8250 driver lists its ports whether or not a chip
            // answers there; an unknown UART type (0) means none did.
            if (ReadAttribute(it->path() / "type") == "0") {
                continue;
            }
        }
        ReadUsbDetails(device, port);
        port.byId = FindById(byIdDir, name);
        found.emplace_back(name, std::move(port));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::make_tuple(KindRank(a.second.kind), SplitNumber(a.first), a.first) <
               std::make_tuple(KindRank(b.second.kind), SplitNumber(b.first), b.first);
    });
    std::vector<PortDescription> ports;
    ports.reserve(found.size());
    for (auto& entry : found) {
        ports.push_back(std::move(entry.second));
    }
    return ports;
}

std::vector<std::string> FixedPortNames() {
    // USB adapters first: on a machine of today the target hangs on one of
    // those far more often than on a built-in port.
    std::vector<std::string> names;
    for (int i = 0; i < 8; ++i) {
        names.push_back("/dev/ttyUSB" + std::to_string(i));
    }
    for (int i = 0; i < 4; ++i) {
        names.push_back("/dev/ttyACM" + std::to_string(i));
    }
    for (int i = 0; i < 4; ++i) {
        names.push_back("/dev/ttyS" + std::to_string(i));
    }
    return names;
}

std::vector<std::string> DefaultPortList() {
    return ScanOrder(DiscoverPorts(), FixedPortNames());
}

// A port is a path like any file's, "/dev/ttyUSB0" or "/dev/serial/by-id/...".
PortNaming SystemPortNaming() {
    return PortNaming::Posix;
}
