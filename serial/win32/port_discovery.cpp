// Serial ports present on a Windows machine: not looked up yet, so the scan
// keeps the sixteen COM names and a listing finds nothing.
#include "serial/port_discovery.h"

#include "serial/serial_port.h"

std::vector<PortDescription> DiscoverPorts(const DiscoveryRoots&) {
    return {};
}

std::vector<std::string> FixedPortNames() {
    return ComPortNames();
}

std::vector<std::string> DefaultPortList() {
    return ScanOrder(DiscoverPorts(), FixedPortNames());
}
