// The list of ports a scan tries, the same on every platform but for its
// default names (DefaultPortList, the backend's), and the order that puts
// the ports present ahead of the fixed names.
#include <algorithm>

#include "serial/port_discovery.h"
#include "serial/serial_port.h"

namespace {

constexpr std::size_t kMaxScanPorts = 255;

}  // namespace

std::vector<std::string> CapPortList(std::vector<std::string> names) {
    if (names.size() > kMaxScanPorts) {
        names.resize(kMaxScanPorts);
    }
    return names;
}

std::vector<std::string> ComPortNames() {
    std::vector<std::string> names;
    for (unsigned i = 1; i <= 16; ++i) {
        names.push_back(ComPortName(i));
    }
    return names;
}

std::string ComPortName(unsigned number) {
    // From COM10 on, the name needs the device namespace prefix.
    return (number < 10 ? "COM" : "\\\\.\\COM") + std::to_string(number);
}

std::vector<std::string> PortList() {
    return CapPortList(DefaultPortList());
}

std::vector<std::string> ScanOrder(const std::vector<PortDescription>& present,
                                   const std::vector<std::string>& fixedNames,
                                   std::size_t atLeast) {
    std::vector<std::string> names;
    for (const PortDescription& port : present) {
        if (std::find(names.begin(), names.end(), port.device) == names.end()) {
            names.push_back(port.device);
        }
    }
    for (const std::string& name : fixedNames) {
        if (names.size() >= atLeast) {
            break;
        }
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    return names;
}
