// Finding the serial ports present on the machine, and the order a scan
// tries them in.
//
// Principles of operation
// -----------------------
// The POSIX backend reads the kernel's list of tty devices (on Linux,
// /sys/class/tty) each time it is asked, so an adapter plugged in after the
// program started is found at the next Program. A tty counts as a serial
// port when it has a device behind it; the virtual consoles and
// pseudo-terminals have none. Built-in UARTs of the 8250 family are listed
// by the kernel whether or not a chip answers at their address; those whose
// UART type reads as unknown (0) are placeholders and are left out.
//
// Order: USB adapters (ttyUSB), then ACM devices (ttyACM), then built-in
// UARTs and other hardware ttys; within each, by name with numbers in
// numeric order (ttyUSB2 before ttyUSB10).
//
// The Windows backend asks SetupAPI for the present devices of the Ports
// class and those with the COM port interface, each time it is asked; what
// their answers mean, and the order (the same as Linux's, by COM number
// within each kind), is told in serial/com_port_info.h. Its scan then tries
// every one of COM1 to \\.\COM16 not among them (the list is not cut at
// sixteen names as Linux's is). ScanOrder is the same everywhere.
#pragma once

#include <string>
#include <vector>

// What is known of one serial port present. Fields the system does not
// tell are empty.
struct PortDescription {
    std::string device;        // the path to open, e.g. "/dev/ttyUSB0"
    std::string kind;          // "usb", "acm" or "uart"
    std::string driver;        // e.g. "ftdi_sio", "cdc_acm", "serial"
    std::string vendorId;      // USB vendor id, four hex digits
    std::string productId;     // USB product id, four hex digits
    std::string manufacturer;  // USB manufacturer text (Windows: the driver's maker)
    std::string product;       // USB product text (not on Windows)
    std::string serialNumber;  // USB serial number
    std::string byId;          // its stable name in /dev/serial/by-id, if any
    std::string friendlyName;  // Windows' name for it, e.g. "USB Serial Port (COM5)"
    // Where its USB device is plugged in, the same whatever name the port
    // gets: on Linux the USB device's name in sysfs, its hub ports from the
    // bus ("1-1.4"); on Windows its location information
    // ("Port_#0004.Hub_#0001").
    std::string location;
};

// Where discovery looks: the system's folders, or a test's stand-ins.
struct DiscoveryRoots {
    std::string ttyClass = "/sys/class/tty";  // one entry per tty device
    std::string dev = "/dev";                 // device nodes; serial/by-id below it
};

// The serial ports present, in the order above. Never fails: what cannot be
// read is left out.
std::vector<PortDescription> DiscoverPorts(const DiscoveryRoots& roots = DiscoveryRoots());

// The names a scan tries when none is present: the backend's fixed list
// (on Linux ttyUSB0-7, ttyACM0-3, ttyS0-3; on Windows COM1 to COM16).
std::vector<std::string> FixedPortNames();

// The scan's list: the present ports first, then the fixed names not among
// them, until there are at least `atLeast` names.
std::vector<std::string> ScanOrder(const std::vector<PortDescription>& present,
                                   const std::vector<std::string>& fixedNames,
                                   std::size_t atLeast = 16);
