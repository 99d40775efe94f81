// A port's name as written: its normal form and the key that tells two
// names of one port, by Windows' rules and by POSIX's, on any machine.
#include "serial/port_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* written;
    const char* windows;     // its normal form on Windows
    const char* windowsKey;  // and its key
    const char* posix;       // its normal form on POSIX
    const char* posixKey;    // and its key
};

// The C++ spelling of \\.\ is "\\\\.\\".
const Case kCases[] = {
    // COM1 to COM9 open by their plain names, with or without the prefix.
    {"COM3", "COM3", "COM3", "COM3", "COM3"},
    {"com3", "COM3", "COM3", "com3", "com3"},
    {"\\\\.\\COM3", "COM3", "COM3", "\\\\.\\COM3", "\\\\.\\COM3"},
    {"\\\\.\\cOm9", "COM9", "COM9", "\\\\.\\cOm9", "\\\\.\\cOm9"},
    // From COM10 on, Windows opens a COM port only by its device name.
    {"COM10", "\\\\.\\COM10", "\\\\.\\COM10", "COM10", "COM10"},
    {"COM21", "\\\\.\\COM21", "\\\\.\\COM21", "COM21", "COM21"},
    {"com21", "\\\\.\\COM21", "\\\\.\\COM21", "com21", "com21"},
    {"\\\\.\\com21", "\\\\.\\COM21", "\\\\.\\COM21", "\\\\.\\com21", "\\\\.\\com21"},
    {"COM4096", "\\\\.\\COM4096", "\\\\.\\COM4096", "COM4096", "COM4096"},
    // Not a COM port's name: a device named as written.
    {"COM0", "COM0", "COM0", "COM0", "COM0"},
    {"COM4097", "COM4097", "COM4097", "COM4097", "COM4097"},
    {"COM03", "COM03", "COM03", "COM03", "COM03"},
    {"COM", "COM", "COM", "COM", "COM"},
    {"COM3:", "COM3:", "COM3:", "COM3:", "COM3:"},
    {"COM 3", "COM 3", "COM 3", "COM 3", "COM 3"},
    {" COM3", " COM3", " COM3", " COM3", " COM3"},
    {"COM3 ", "COM3 ", "COM3 ", "COM3 ", "COM3 "},
    {"COM+3", "COM+3", "COM+3", "COM+3", "COM+3"},
    {"COM99999999999", "COM99999999999", "COM99999999999", "COM99999999999", "COM99999999999"},
    {"\\\\.\\\\\\.\\COM3", "\\\\.\\\\\\.\\COM3", "\\\\.\\\\\\.\\COM3", "\\\\.\\\\\\.\\COM3",
     "\\\\.\\\\\\.\\COM3"},
    {"\\\\.\\", "\\\\.\\", "\\\\.\\", "\\\\.\\", "\\\\.\\"},
    {"/dev/COM3", "/dev/COM3", "/DEV/COM3", "/dev/COM3", "/dev/COM3"},
    // Other devices: Windows ignores their case, POSIX does not.
    {"\\\\.\\cnca0", "\\\\.\\cnca0", "\\\\.\\CNCA0", "\\\\.\\cnca0", "\\\\.\\cnca0"},
    {"/dev/ttyUSB0", "/dev/ttyUSB0", "/DEV/TTYUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
    {"/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0",
     "/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0",
     "/DEV/SERIAL/BY-ID/USB-FTDI_FT1A2B3C-IF00-PORT0",
     "/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0",
     "/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0"},
    {"", "", "", "", ""},
    // Adapters, the same everywhere: the prefix in lower case, the serial
    // number or location as written, and in capitals in the key.
    {"serial:ft1a", "serial:ft1a", "serial:FT1A", "serial:ft1a", "serial:FT1A"},
    {"SERIAL:FT1A", "serial:FT1A", "serial:FT1A", "serial:FT1A", "serial:FT1A"},
    {"Location:Port_#0004.Hub_#0001", "location:Port_#0004.Hub_#0001",
     "location:PORT_#0004.HUB_#0001", "location:Port_#0004.Hub_#0001",
     "location:PORT_#0004.HUB_#0001"},
    {"location:1-1.4", "location:1-1.4", "location:1-1.4", "location:1-1.4", "location:1-1.4"},
    {"serial:COM21", "serial:COM21", "serial:COM21", "serial:COM21", "serial:COM21"},
    {"serial:", "serial:", "serial:", "serial:", "serial:"},
    {"serialFT1A", "serialFT1A", "SERIALFT1A", "serialFT1A", "serialFT1A"},
};

TEST(PortNamesTest, NormalFormAndKeyOfEachNameAsWritten) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("written: \"") + c.written + "\"");
        EXPECT_EQ(NormalPortName(c.written, PortNaming::Windows), c.windows);
        EXPECT_EQ(PortNameKey(c.written, PortNaming::Windows), c.windowsKey);
        EXPECT_EQ(NormalPortName(c.written, PortNaming::Posix), c.posix);
        EXPECT_EQ(PortNameKey(c.written, PortNaming::Posix), c.posixKey);
    }
}

// The normal form is what every entry passes on and what a station
// compares against names still as written: it must name the same port and
// stay as it is when it is taken again.
TEST(PortNamesTest, TheNormalFormIsItsOwnNormalFormAndKeepsTheKey) {
    for (const PortNaming naming : {PortNaming::Windows, PortNaming::Posix}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string("written: \"") + c.written + "\", " +
                         (naming == PortNaming::Windows ? "Windows" : "POSIX"));
            const std::string normal = NormalPortName(c.written, naming);
            EXPECT_EQ(NormalPortName(normal, naming), normal);
            EXPECT_EQ(PortNameKey(normal, naming), PortNameKey(c.written, naming));
        }
    }
}

}  // namespace
