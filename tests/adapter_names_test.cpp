// Ports named by their USB adapter, resolved among the ports present.
#include "serial/adapter_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PortDescription Port(const std::string& device, const std::string& serial,
                     const std::string& location, const std::string& byId = "") {
    PortDescription p;
    p.device = device;
    p.kind = "usb";
    p.serialNumber = serial;
    p.location = location;
    p.byId = byId;
    return p;
}

// Two single adapters and one with two ports (one serial number, one socket).
const std::vector<PortDescription> kPresent = {
    Port("/dev/ttyUSB0", "FT1A2B3C", "1-1.2", "/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0"),
    Port("/dev/ttyUSB1", "0001", "1-1.3"),
    Port("/dev/ttyUSB2", "DUAL9", "1-1.4"),
    Port("/dev/ttyUSB3", "DUAL9", "1-1.4"),
    Port("/dev/ttyS0", "", ""),
};

struct Case {
    const char* name;
    const char* resolves;  // the device, or nullptr when refused
    const char* text;      // the serial number and location known, or the error
};

TEST(AdapterNamesTest, ResolveAmongThePortsPresent) {
    const Case cases[] = {
        {"serial:FT1A2B3C", "/dev/ttyUSB0", "FT1A2B3C 1-1.2"},
        {"serial:ft1a2b3c", "/dev/ttyUSB0", "FT1A2B3C 1-1.2"},  // Windows spells it in capitals
        {"SERIAL:FT1A2B3C", "/dev/ttyUSB0", "FT1A2B3C 1-1.2"},  // and the prefix in any case
        {"location:1-1.3", "/dev/ttyUSB1", "0001 1-1.3"},
        {"/dev/ttyUSB1", "/dev/ttyUSB1", "0001 1-1.3"},  // a device: what is known of it
        {"/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0",
         "/dev/serial/by-id/usb-FTDI_FT1A2B3C-if00-port0", "FT1A2B3C 1-1.2"},
        {"/dev/ttyUSB9", "/dev/ttyUSB9", " "},  // not present: opening it will say so
        {"serial:FT1A2B3", nullptr, "no USB adapter with serial number FT1A2B3 is present"},
        {"location:1-1", nullptr, "no USB adapter with location 1-1 is present"},
        {"serial:", nullptr, ""},  // never the UART's empty fields
        {"location:", nullptr, ""},
        {"serial:DUAL9", nullptr,
         "2 ports have the USB serial number DUAL9: /dev/ttyUSB2 /dev/ttyUSB3; name one by its "
         "device"},
        {"location:1-1.4", nullptr,
         "2 ports have the USB location 1-1.4: /dev/ttyUSB2 /dev/ttyUSB3; name one by its device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResolvedPort port;
        std::string error;
        const bool resolved = ResolvePortName(c.name, kPresent, port, error);
        ASSERT_EQ(resolved, c.resolves != nullptr) << error;
        if (resolved) {
            EXPECT_EQ(port.device, c.resolves);
            EXPECT_EQ(port.present.serialNumber + " " + port.present.location, c.text);
        } else if (*c.text != '\0') {
            EXPECT_EQ(error, c.text);
        }
    }
}

TEST(AdapterNamesTest, OnlyTheTwoPrefixesNameAnAdapter) {
    std::string value;
    EXPECT_EQ(AdapterNameKind("serial:A1", &value), AdapterKey::SerialNumber);
    EXPECT_EQ(value, "A1");
    EXPECT_EQ(AdapterNameKind("location:1-1.4:1.0", &value), AdapterKey::Location);
    EXPECT_EQ(value, "1-1.4:1.0");
    // The prefix in any case; what follows it as written.
    EXPECT_EQ(AdapterNameKind("Serial:a1", &value), AdapterKey::SerialNumber);
    EXPECT_EQ(value, "a1");
    EXPECT_EQ(AdapterNameKind("LOCATION:1-2", &value), AdapterKey::Location);
    EXPECT_EQ(value, "1-2");
    for (const char* device : {"COM3", "\\\\.\\COM17", "/dev/ttyUSB0", "serial", "serial-A1",
                               "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"}) {
        EXPECT_EQ(AdapterNameKind(device), AdapterKey::None) << device;
    }
}

}  // namespace
