// Formatting the serial ports present for download-cli --list-ports.
#include "tools/cli/list_ports.h"

#include "station/json.h"

namespace {

// A USB device names itself: its texts may hold anything, and an escape
// sequence must not reach the terminal.
std::string Printable(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return out;
}

std::string TextLine(const PortDescription& p) {
    std::string line = Printable(p.device) + ": " + Printable(p.kind);
    if (!p.friendlyName.empty()) {
        line += ", \"" + Printable(p.friendlyName) + "\"";
    }
    if (!p.driver.empty()) {
        line += ", driver " + Printable(p.driver);
    }
    if (!p.vendorId.empty() || !p.productId.empty()) {
        line += ", USB " + Printable(p.vendorId) + ":" + Printable(p.productId);
        for (const std::string* text : {&p.manufacturer, &p.product}) {
            if (!text->empty()) {
                line += ' ';
                line += Printable(*text);
            }
        }
    }
    if (!p.serialNumber.empty()) {
        line += ", serial number " + Printable(p.serialNumber);
    }
    if (!p.location.empty()) {
        line += ", location " + Printable(p.location);
    }
    if (!p.byId.empty()) {
        line += ", " + Printable(p.byId);
    }
    return line + "\n";
}

std::string JsonLine(const PortDescription& p) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"port", &p.device},
        {"kind", &p.kind},
        {"friendly_name", &p.friendlyName},
        {"driver", &p.driver},
        {"vendor_id", &p.vendorId},
        {"product_id", &p.productId},
        {"manufacturer", &p.manufacturer},
        {"product", &p.product},
        {"serial_number", &p.serialNumber},
        {"location", &p.location},
        {"by_id", &p.byId},
    };
    std::string line = "{";
    for (const auto& [key, value] : fields) {
        if (value->empty()) {
            continue;
        }
        if (line.size() > 1) {
            line += ",";
        }
        line += JsonString(key) + ":" + JsonString(*value);
    }
    return line + "}\n";
}

}  // namespace

std::string FormatPortList(const std::vector<PortDescription>& ports, bool json) {
    std::string out;
    for (const PortDescription& p : ports) {
        out += json ? JsonLine(p) : TextLine(p);
    }
    return out;
}
