// Resolving a port named by its USB adapter; see adapter_names.h.
#include "serial/adapter_names.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

struct Prefix {
    const char* text;
    AdapterKey key;
    const char* what;  // as the error says it
};
constexpr Prefix kPrefixes[] = {
    {"serial:", AdapterKey::SerialNumber, "serial number"},
    {"location:", AdapterKey::Location, "location"},
};

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

AdapterKey AdapterNameKind(const std::string& name, std::string* value) {
    for (const Prefix& p : kPrefixes) {
        const std::size_t length = std::char_traits<char>::length(p.text);
        if (SameText(std::string_view(name).substr(0, length), p.text)) {
            if (value) {
                *value = name.substr(length);
            }
            return p.key;
        }
    }
    return AdapterKey::None;
}

std::string AdapterName(AdapterKey key, const std::string& value) {
    for (const Prefix& p : kPrefixes) {
        if (p.key == key) {
            return p.text + value;
        }
    }
    return value;
}

bool ResolvePortName(const std::string& name, const std::vector<PortDescription>& present,
                     ResolvedPort& resolved, std::string& error) {
    resolved = ResolvedPort{};
    std::string value;
    const AdapterKey key = AdapterNameKind(name, &value);
    if (key == AdapterKey::None) {
        resolved.device = name;
        for (const PortDescription& p : present) {
            if (p.device == name || (!p.byId.empty() && p.byId == name)) {
                resolved.present = p;
                break;
            }
        }
        return true;
    }
    const Prefix& prefix = *std::find_if(std::begin(kPrefixes), std::end(kPrefixes),
                                         [&](const Prefix& p) { return p.key == key; });
    std::vector<const PortDescription*> found;
    for (const PortDescription& p : present) {
        const std::string& field = key == AdapterKey::SerialNumber ? p.serialNumber : p.location;
        if (!value.empty() && SameText(field, value)) {
            found.push_back(&p);
        }
    }
    if (found.size() == 1) {
        resolved.device = found.front()->device;
        resolved.present = *found.front();
        return true;
    }
    if (found.empty()) {
        error = std::string("no USB adapter with ") + prefix.what + " " + value + " is present";
    } else {
        error =
            std::to_string(found.size()) + " ports have the USB " + prefix.what + " " + value + ":";
        for (const PortDescription* p : found) {
            error += " " + p->device;
        }
        error += "; name one by its device";
    }
    return false;
}
