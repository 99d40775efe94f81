// The list of ports a scan tries, the same on every platform but for its
// default names (DefaultPortList, the backend's).
#include "serial/serial_port.h"

namespace {

constexpr std::size_t kMaxPorts = 255;  // the scan's port index is one byte

std::vector<std::string>& List() {
    static std::vector<std::string> list = DefaultPortList();
    return list;
}

}  // namespace

std::vector<std::string> ComPortNames() {
    std::vector<std::string> names;
    for (int i = 1; i <= 16; ++i) {
        // From COM10 on, the name needs the device namespace prefix.
        names.push_back((i < 10 ? "COM" : "\\\\.\\COM") + std::to_string(i));
    }
    return names;
}

const std::vector<std::string>& PortList() {
    return List();
}

void SetPortList(std::vector<std::string> names) {
    if (names.size() > kMaxPorts) {
        names.resize(kMaxPorts);
    }
    List() = std::move(names);
}

PortHandle OpenPort(std::size_t index) {
    const std::vector<std::string>& list = PortList();
    // An index past the list names no device: the backend reports that.
    return OpenPortByName(index < list.size() ? list[index] : std::string());
}
