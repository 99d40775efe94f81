// download-cli --list-ports: what is known of each serial port present, one
// port a line, as text for a person or as JSON objects for a script.
#pragma once

#include <string>
#include <vector>

#include "serial/port_discovery.h"

// Text: "DEVICE: kind, "FRIENDLY NAME", driver D, USB VID:PID MANUFACTURER
// PRODUCT, serial number S, location L, BY-ID", leaving out what is not
// known. JSON: one object a line with the keys port, kind, friendly_name,
// driver, vendor_id, product_id, manufacturer, product, serial_number,
// location, by_id; unknown ones left out. The texts come from the devices
// themselves: control characters never reach the terminal as they are.
std::string FormatPortList(const std::vector<PortDescription>& ports, bool json);
