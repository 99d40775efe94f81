// What Windows' device manager tells of its COM ports, and what it means.
//
// Principles of operation
// -----------------------
// The Windows backend (serial/win32/port_discovery.cpp) asks SetupAPI for
// every present device of the Ports class or with the COM port interface,
// and copies what it reads of each, as text and unread, into a
// ComPortRecord: nothing else happens there. DescribeComPorts, portable and
// tested on any machine from recorded answers, turns the records into the
// PortDescriptions of serial/port_discovery.h:
//
//   device        ComPortName of the number in "PortName": "COM5", and
//                 "\\.\COM17" from the tenth on. A device whose PortName is
//                 not "COMn" (n from 1 to 4096, no leading zero; an LPT
//                 port, nothing, a stray text) is left out; so is a second
//                 device with a name already taken.
//   kind          "acm" when Windows' own CDC ACM driver (service usbser)
//                 serves it; "usb" when it or a device above it is on USB
//                 (ids "USB\..."; FTDI's own bus, "FTDIBUS\..."); "uart"
//                 for the rest (built-in ports, "ACPI\PNP0501", and other
//                 non-USB ports).
//   vendorId,     the four hex digits after "VID_" and "PID_" in its
//   productId     hardware ids, else its instance id, else those of the
//                 devices above it: "USB\VID_0403&PID_6001&REV_0600",
//                 "FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000". Lower case,
//                 as Linux writes them.
//   serialNumber  the last part of the USB device's instance id,
//                 "USB\VID_0403&PID_6001\A1B2C3D4" -> "A1B2C3D4". The USB
//                 device is the nearest of the port and the devices above
//                 it whose id is "USB\..." and not one interface of a
//                 composite device ("&MI_"). When the device has no serial
//                 number Windows makes that part up, and it holds '&'
//                 ("5&2C0A6D3B&0&2"): then none.
//   location      the USB device's location information, e.g.
//                 "Port_#0004.Hub_#0001": which hub port it is plugged
//                 into, the same whichever COM number it gets.
//   friendlyName, as read: "USB Serial Port (COM5)", "FTDI", "FTDIBUS".
//   manufacturer  The manufacturer is the driver's maker as Windows names
//   driver        it, not the device's own text.
//
// Every text is cut at a NUL and to 256 bytes, and loses its trailing
// blanks, before it is used.
//
// Order: as on Linux, USB adapters, then ACM devices, then the rest; within
// each, by COM number (COM2 before COM10).
#pragma once

#include <string>
#include <vector>

#include "serial/port_discovery.h"

// A device that a COM port hangs under: a USB device, a hub, a composite
// device's parent.
struct DeviceNodeRecord {
    std::string instanceId;  // e.g. "USB\VID_0403&PID_6001\A1B2C3D4"
    std::string location;    // its location information, e.g. "Port_#0004.Hub_#0001"
};

// What SetupAPI answered for one COM port device, as read; empty where it
// did not answer.
struct ComPortRecord {
    std::string portName;                   // the device key's "PortName", e.g. "COM5"
    std::string friendlyName;               // e.g. "USB Serial Port (COM5)"
    std::vector<std::string> hardwareIds;   // most specific first
    std::string instanceId;                 // e.g. "FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000"
    std::string location;                   // its own location information
    std::string manufacturer;               // e.g. "FTDI", "(Standard port types)"
    std::string service;                    // its driver, e.g. "FTDIBUS", "usbser", "Serial"
    std::vector<DeviceNodeRecord> parents;  // its parent first, then the parent's, ...
};

// The number of a COM port's name, "COM5" or "com123" -> 5 or 123; 0 when
// the text is not such a name.
unsigned ComPortNumber(const std::string& portName);

// The ports the records describe, in the order above; records without a
// usable port name left out.
std::vector<PortDescription> DescribeComPorts(const std::vector<ComPortRecord>& records);
