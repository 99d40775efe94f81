// A port's name as written, its normal form and its key; see port_names.h.
#include "serial/port_names.h"

#include <cctype>
#include <string_view>

#include "serial/adapter_names.h"
#include "serial/com_port_info.h"
#include "serial/serial_port.h"

namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The number of a Windows COM port's name as written, with or without the
// device namespace prefix ("com21", "\\.\COM21" -> 21); 0 when it is not
// one. ComPortNumber reads SetupAPI's answers and forgives blanks around
// them; a name as written is taken only as it stands.
unsigned ComNumberOf(const std::string& written) {
    std::string_view rest = written;
    if (rest.starts_with(kDeviceNamespace)) {
        rest.remove_prefix(kDeviceNamespace.size());
    }
    const std::string name(rest);
    const unsigned number = ComPortNumber(name);
    return number != 0 && Upper(name) == "COM" + std::to_string(number) ? number : 0;
}

}  // namespace

std::string NormalPortName(const std::string& written, PortNaming naming) {
    std::string value;
    if (const AdapterKey key = AdapterNameKind(written, &value); key != AdapterKey::None) {
        return AdapterName(key, value);
    }
    if (naming == PortNaming::Windows) {
        if (const unsigned number = ComNumberOf(written); number != 0) {
            return ComPortName(number);
        }
    }
    return written;
}

std::string PortNameKey(const std::string& written, PortNaming naming) {
    std::string value;
    if (const AdapterKey key = AdapterNameKind(written, &value); key != AdapterKey::None) {
        return AdapterName(key, Upper(value));
    }
    const std::string normal = NormalPortName(written, naming);
    return naming == PortNaming::Windows ? Upper(normal) : normal;
}
