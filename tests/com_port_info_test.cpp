// What Windows' device manager tells of COM ports, as SetupAPI answers on
// real machines, turned into port descriptions: adapters of every common
// maker, a composite ACM device, built-in and high-numbered ports, serial
// numbers Windows made up, and answers no driver should give.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "serial/com_port_info.h"

namespace {

const char kRootHub[] = "USB\\ROOT_HUB30\\4&2F3A5B1C&0&0";

struct DescribeCase {
    const char* name;
    ComPortRecord record;
    PortDescription expected;
};

void PrintTo(const DescribeCase& c, std::ostream* os) {
    *os << c.name;
}

PortDescription Expected(const char* device, const char* kind, const char* driver, const char* vid,
                         const char* pid, const char* manufacturer, const char* serial,
                         const char* friendly, const char* location) {
    PortDescription p;
    p.device = device;
    p.kind = kind;
    p.driver = driver;
    p.vendorId = vid;
    p.productId = pid;
    p.manufacturer = manufacturer;
    p.serialNumber = serial;
    p.friendlyName = friendly;
    p.location = location;
    return p;
}

const std::string kLongText(5000, 'x');

std::vector<DescribeCase> DescribeCases() {
    return {
        // FTDI's own driver: the port hangs on FTDI's bus, whose id carries
        // the serial number with a port letter; the USB device above it
        // carries it plain, and its place on the hub.
        {"ftdi on its own bus",
         {"COM5",
          "USB Serial Port (COM5)",
          {"FTDIBUS\\COMPORT&VID_0403&PID_6001"},
          "FTDIBUS\\VID_0403+PID_6001+A1B2C3D4A\\0000",
          "",
          "FTDI",
          "FTSER2K",
          {{"USB\\VID_0403&PID_6001\\A1B2C3D4", "Port_#0004.Hub_#0001"}, {kRootHub, ""}}},
         Expected("COM5", "usb", "FTSER2K", "0403", "6001", "FTDI", "A1B2C3D4",
                  "USB Serial Port (COM5)", "Port_#0004.Hub_#0001")},
        // The port is the USB device itself: its own id and location.
        {"cp210x",
         {"COM3",
          "Silicon Labs CP210x USB to UART Bridge (COM3)",
          {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60"},
          "USB\\VID_10C4&PID_EA60\\0001",
          "Port_#0002.Hub_#0001",
          "Silicon Labs",
          "silabser",
          {{kRootHub, ""}}},
         Expected("COM3", "usb", "silabser", "10c4", "ea60", "Silicon Labs", "0001",
                  "Silicon Labs CP210x USB to UART Bridge (COM3)", "Port_#0002.Hub_#0001")},
        // No serial number in the chip: Windows makes up an instance id
        // with '&' in it, which names no adapter.
        {"ch340 without a serial number",
         {"COM4",
          "USB-SERIAL CH340 (COM4)",
          {"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"},
          "USB\\VID_1A86&PID_7523\\5&2C0A6D3B&0&3",
          "Port_#0003.Hub_#0001",
          "wch.cn",
          "CH341SER_A64",
          {{kRootHub, ""}}},
         Expected("COM4", "usb", "CH341SER_A64", "1a86", "7523", "wch.cn", "",
                  "USB-SERIAL CH340 (COM4)", "Port_#0003.Hub_#0001")},
        {"prolific without a serial number",
         {"COM6",
          "Prolific USB-to-Serial Comm Port (COM6)",
          {"USB\\VID_067B&PID_2303&REV_0300", "USB\\VID_067B&PID_2303"},
          "USB\\VID_067B&PID_2303\\6&1B9E7C2&0&1",
          "Port_#0001.Hub_#0002",
          "Prolific",
          "Ser2pl",
          {{"USB\\VID_05E3&PID_0610\\5&3A2B1C0&0&4", "Port_#0004.Hub_#0001"}}},
         Expected("COM6", "usb", "Ser2pl", "067b", "2303", "Prolific", "",
                  "Prolific USB-to-Serial Comm Port (COM6)", "Port_#0001.Hub_#0002")},
        // One interface of a composite device: the serial number and the
        // hub port are the whole device's, one level up, not the
        // interface's or the hub's above that.
        {"cdc acm interface of a composite device",
         {"COM10",
          "USB Serial Device (COM10)",
          {"USB\\VID_2E8A&PID_000A&REV_0100&MI_00", "USB\\VID_2E8A&PID_000A&MI_00"},
          "USB\\VID_2E8A&PID_000A&MI_00\\7&3A1C2B0&0&0000",
          "0000.0014.0000.002.000.000.000.000.000",
          "Microsoft",
          "usbser",
          {{"USB\\VID_2E8A&PID_000A\\E6614C311B", "Port_#0002.Hub_#0003"},
           {"USB\\VID_05E3&PID_0610\\5&3A2B1C0&0&2", "Port_#0002.Hub_#0001"},
           {kRootHub, ""}}},
         Expected("\\\\.\\COM10", "acm", "usbser", "2e8a", "000a", "Microsoft", "E6614C311B",
                  "USB Serial Device (COM10)", "Port_#0002.Hub_#0003")},
        {"built-in uart",
         {"COM1",
          "Communications Port (COM1)",
          {"ACPI\\PNP0501", "*PNP0501"},
          "ACPI\\PNP0501\\0",
          "",
          "(Standard port types)",
          "Serial",
          {{"ACPI\\PNP0A08\\0", ""}, {"ACPI_HAL\\PNP0C08\\0", ""}}},
         Expected("COM1", "uart", "Serial", "", "", "(Standard port types)", "",
                  "Communications Port (COM1)", "")},
        // From the tenth port on, the name opens only in the device
        // namespace; a lower-case PortName is still a COM port.
        {"com17",
         {"COM17",
          "USB Serial Port (COM17)",
          {"FTDIBUS\\COMPORT&VID_0403&PID_6015"},
          "FTDIBUS\\VID_0403+PID_6015+DK0AB1CDA\\0000",
          "",
          "FTDI",
          "FTSER2K",
          {{"USB\\VID_0403&PID_6015\\DK0AB1CD", "Port_#0001.Hub_#0004"}}},
         Expected("\\\\.\\COM17", "usb", "FTSER2K", "0403", "6015", "FTDI", "DK0AB1CD",
                  "USB Serial Port (COM17)", "Port_#0001.Hub_#0004")},
        // A Bluetooth link: neither USB nor a vendor id ("VID&" is not
        // "VID_").
        {"com123 lower case on bluetooth",
         {"com123",
          "Standard Serial over Bluetooth link (COM123)",
          {"BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_VID&0001005d_PID&0223"},
          "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1F2E3D4C&0&0",
          "",
          "Microsoft",
          "BTHMODEM",
          {{"BTH\\MS_BTHBRB\\6&2A3B4C5D&0&1", ""}}},
         Expected("\\\\.\\COM123", "uart", "BTHMODEM", "", "", "Microsoft", "",
                  "Standard Serial over Bluetooth link (COM123)", "")},
        // Ids half right: digits that are not hex, too few or too many of
        // them, "VID_" inside a word. No vendor id, no USB device, but
        // still a port on USB.
        {"malformed ids",
         {"COM7",
          "",
          {"USB\\VID_04G3&PID_6001", "USB\\VID_040&PID_6001", "USB\\XVID_0403&PID_6001"},
          "USB\\VID_04031&PID_6001\\A1B2",
          "Port_#0001.Hub_#0001",
          "",
          "",
          {{"", ""}, {"\\\\\\", ""}, {"USB\\", ""}}},
         Expected("COM7", "usb", "", "", "", "", "", "", "")},
        // A vendor id without a product id is still told; an instance id
        // of four parts is no USB device's, and names no serial number.
        {"vendor id alone",
         {"COM8", "", {"USB\\VID_1234"}, "USB\\VID_1234&PID_\\SN1\\extra", "", "", "", {}},
         Expected("COM8", "usb", "", "1234", "", "", "", "", "")},
        // Registry strings as a careless driver leaves them: blanks around
        // the name, a NUL inside, texts far too long (cut to 256).
        {"untidy and very long strings",
         {std::string(" COM9\0garbage", 13),
          kLongText,
          {std::string(20000, 'y'), "USB\\VID_0403&PID_6001"},
          std::string("USB\\VID_0403&PID_6001\\") + std::string(300, 'S'),
          "Port_#0001.Hub_#0001  ",
          kLongText,
          std::string("FTSER2K\0\0", 9),
          {}},
         Expected("COM9", "usb", "FTSER2K", "0403", "6001", std::string(256, 'x').c_str(),
                  std::string(256 - 22, 'S').c_str(), std::string(256, 'x').c_str(),
                  "Port_#0001.Hub_#0001")},
    };
}

class DescribeComPortTable : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeComPortTable, TellsWhatTheDeviceManagerKnows) {
    const DescribeCase& c = GetParam();
    const auto ports = DescribeComPorts({c.record});
    ASSERT_EQ(ports.size(), 1u);
    const PortDescription& p = ports[0];
    const PortDescription& e = c.expected;
    EXPECT_EQ(p.device, e.device);
    EXPECT_EQ(p.kind, e.kind);
    EXPECT_EQ(p.driver, e.driver);
    EXPECT_EQ(p.vendorId, e.vendorId);
    EXPECT_EQ(p.productId, e.productId);
    EXPECT_EQ(p.manufacturer, e.manufacturer);
    EXPECT_EQ(p.serialNumber, e.serialNumber);
    EXPECT_EQ(p.friendlyName, e.friendlyName);
    EXPECT_EQ(p.location, e.location);
    EXPECT_EQ(p.product, "") << "the device's own product text is not read on Windows";
    EXPECT_EQ(p.byId, "");
}

INSTANTIATE_TEST_SUITE_P(Devices, DescribeComPortTable, ::testing::ValuesIn(DescribeCases()),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return n;
                         });

ComPortRecord Named(const std::string& portName, const std::string& service = "Serial",
                    const std::string& instanceId = "ACPI\\PNP0501\\0") {
    ComPortRecord r;
    r.portName = portName;
    r.service = service;
    r.instanceId = instanceId;
    return r;
}

// Only "COMn" names a port that opens: a printer port, an empty or missing
// name, leading zeros, signs, numbers past any COM port's, and the device
// namespace (which is the opener's business, not a PortName's).
TEST(DescribeComPortsTest, LeavesOutDevicesWithoutAUsableName) {
    for (const std::string& bad :
         std::vector<std::string>{"", " ", "LPT1", "COM", "COM0", "COM05", "COMX", "COM-1", "COM+1",
                                  "COM1x", "COM 1", "COM4097", "COM99999999999999999999",
                                  "\\\\.\\COM5", "CNCA0", "XCOM5", std::string("\0COM5", 5)}) {
        EXPECT_EQ(ComPortNumber(bad), 0u) << bad;
        EXPECT_TRUE(DescribeComPorts({Named(bad)}).empty()) << bad;
    }
    EXPECT_EQ(ComPortNumber("com1"), 1u);
    EXPECT_EQ(ComPortNumber("COM4096"), 4096u);
    EXPECT_EQ(DescribeComPorts({Named("COM4096")}).at(0).device, "\\\\.\\COM4096");
    EXPECT_TRUE(DescribeComPorts({}).empty());
    EXPECT_TRUE(DescribeComPorts({ComPortRecord{}}).empty());
}

// Two devices that claim one name (a stale driver, the same device read
// from two sets): the first one read keeps it.
TEST(DescribeComPortsTest, ANameTakenTwiceIsListedOnce) {
    const auto ports = DescribeComPorts(
        {Named("COM3", "silabser", "USB\\VID_10C4&PID_EA60\\0001"), Named("com3"), Named("COM4")});
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].device, "COM3");
    EXPECT_EQ(ports[0].driver, "silabser");
    EXPECT_EQ(ports[1].device, "COM4");
}

// As on Linux: USB adapters, then ACM devices, then the rest, each by COM
// number, not by text (COM2 before COM10, COM10 before COM123).
TEST(DescribeComPortsTest, OrdersUsbThenAcmThenOthersEachByNumber) {
    const auto ports = DescribeComPorts({
        Named("COM1"),
        Named("COM10", "FTSER2K", "FTDIBUS\\VID_0403+PID_6001+AA\\0000"),
        Named("COM123", "usbser", "USB\\VID_2E8A&PID_000A\\E661"),
        Named("COM2", "silabser", "USB\\VID_10C4&PID_EA60\\0001"),
        Named("COM4", "usbser", "USB\\VID_2341&PID_0043\\7533"),
        Named("COM100", "silabser", "USB\\VID_10C4&PID_EA60\\0002"),
        Named("COM3"),
        Named("LPT1", "Parport", "ACPI\\PNP0400\\0"),
    });
    std::vector<std::string> devices;
    for (const PortDescription& p : ports) {
        devices.push_back(p.device);
    }
    EXPECT_EQ(devices, (std::vector<std::string>{"COM2", "\\\\.\\COM10", "\\\\.\\COM100", "COM4",
                                                 "\\\\.\\COM123", "COM1", "COM3"}));
}

}  // namespace
