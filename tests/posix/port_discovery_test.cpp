// Finding the serial ports present, on a fake sysfs tree laid out as the
// kernel lays out /sys/class/tty: USB adapters, ACM devices, built-in UARTs
// with and without a chip behind them, and ttys with no device at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "tests/test_data.h"

namespace fs = std::filesystem;

namespace {

class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root.path() / "sys/class/tty");
        fs::create_directories(root.path() / "dev");
        roots.ttyClass = (root.path() / "sys/class/tty").string();
        roots.dev = (root.path() / "dev").string();
    }

    fs::path Devices() const { return root.path() / "sys/devices"; }

    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }

    // A device folder below sys/devices, with its driver and subsystem
    // links pointing where the kernel's would.
    fs::path Device(const std::string& path, const std::string& driver,
                    const std::string& subsystem) {
        const fs::path dir = Devices() / path;
        fs::create_directories(dir);
        if (!driver.empty()) {
            fs::create_directory_symlink(root.path() / "sys/bus/x/drivers" / driver,
                                         dir / "driver");
        }
        if (!subsystem.empty()) {
            fs::create_directory_symlink(root.path() / "sys/bus" / subsystem, dir / "subsystem");
        }
        return dir;
    }

    // The class entry of a tty; `device` empty for a virtual one. `type`,
    // when given, is the UART type the serial core reports.
    void Tty(const std::string& name, const fs::path& device, const std::string& type = "") {
        const fs::path entry = root.path() / "sys/class/tty" / name;
        fs::create_directories(entry);
        if (!device.empty()) {
            fs::create_directory_symlink(device, entry / "device");
        }
        if (!type.empty()) {
            Write(entry / "type", type);
        }
    }

    // A USB device with its vendor, product and serial texts; returns it.
    fs::path UsbDevice(const std::string& path, const std::string& vendor,
                       const std::string& product, const std::string& serial) {
        const fs::path dir = Device(path, "usb", "usb");
        Write(dir / "idVendor", vendor);
        Write(dir / "idProduct", "6001");
        Write(dir / "manufacturer", "FTDI");
        Write(dir / "product", product);
        Write(dir / "serial", serial);
        return dir;
    }

    // An adapter's tty below its USB device and that device's interface
    // ("1-1.4/1-1.4:1.0/ttyUSB0"); the device may sit below hubs.
    void UsbAdapter(const std::string& tty, const std::string& usbPath, const std::string& serial) {
        UsbDevice(usbPath, "0403", "FT232R USB UART", serial);
        const std::string leaf = fs::path(usbPath).filename().string();
        const fs::path port =
            Device(usbPath + "/" + leaf + ":1.0/" + tty, "ftdi_sio", "usb-serial");
        Tty(tty, port);
    }

    void ById(const std::string& link, const std::string& tty) {
        fs::create_directories(root.path() / "dev/serial/by-id");
        fs::create_symlink("../../" + tty, root.path() / "dev/serial/by-id" / link);
    }

    std::string Dev(const std::string& tty) const { return (root.path() / "dev" / tty).string(); }

    static std::vector<std::string> Names(const std::vector<PortDescription>& ports) {
        std::vector<std::string> names;
        for (const PortDescription& p : ports) {
            names.push_back(fs::path(p.device).filename().string());
        }
        return names;
    }

    TempDir root{"fake-sysfs"};
    DiscoveryRoots roots;
};

// A desktop machine: two adapters (numbers that sort wrongly as text), a
// board on ACM, the one real UART among the 8250 driver's placeholders in
// both kernel layouts, an ARM UART, and virtual ttys.
TEST_F(FakeSysfs, ListsUsbThenAcmThenRealUartsAndSkipsPlaceholders) {
    UsbAdapter("ttyUSB10", "1-2", "B1");
    UsbAdapter("ttyUSB2", "1-1", "A5");
    UsbDevice("2-1", "2e8a", "Pico", "E66");
    Tty("ttyACM0", Device("2-1/2-1:1.0", "cdc_acm", "usb"));

    // Older kernels: the tty's device is the controller itself.
    Tty("ttyS0", Device("pnp0/00:01", "serial", "pnp"), "4");
    Tty("ttyS1", Device("platform/serial8250", "serial8250", "platform"), "0");
    // Newer kernels: a port layer between the tty and its controller.
    Device("platform/serial8250/serial8250:0", "ctrl", "serial-base");
    Tty("ttyS3", Device("platform/serial8250/serial8250:0/serial8250:0.3", "port", "serial-base"),
        "0");
    Device("pnp0/00:02", "serial", "pnp");
    Device("pnp0/00:02/00:02:0", "ctrl", "serial-base");
    Tty("ttyS4", Device("pnp0/00:02/00:02:0/00:02:0.0", "port", "serial-base"), "4");
    Tty("ttyAMA0", Device("platform/fe201000.serial", "uart-pl011", "amba"), "32");
    // Device-less ttys: virtual consoles, the pty master, the console.
    Tty("tty1", {});
    Tty("ptmx", {});
    Tty("console", {});

    const auto ports = DiscoverPorts(roots);
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyAMA0",
                                                      "ttyS0", "ttyS4"}));
    ASSERT_EQ(ports.size(), 6u);
    EXPECT_EQ(ports[0].kind, "usb");
    EXPECT_EQ(ports[2].kind, "acm");
    EXPECT_EQ(ports[4].kind, "uart");
    EXPECT_EQ(ports[4].driver, "serial");
    EXPECT_EQ(ports[5].driver, "serial") << "the controller's driver, not the port layer's";
}

TEST_F(FakeSysfs, TellsWhatIsKnownOfEachPort) {
    UsbAdapter("ttyUSB0", "1-1", "A50285BI");
    ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    UsbDevice("2-1", "2e8a", "Pico", "E661");
    Tty("ttyACM0", Device("2-1/2-1:1.0", "cdc_acm", "usb"));
    Tty("ttyS0", Device("pnp0/00:01", "serial", "pnp"), "4");

    const auto ports = DiscoverPorts(roots);
    ASSERT_EQ(ports.size(), 3u);
    const PortDescription& usb = ports[0];
    EXPECT_EQ(usb.device, Dev("ttyUSB0"));
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.vendorId, "0403");
    EXPECT_EQ(usb.productId, "6001");
    EXPECT_EQ(usb.manufacturer, "FTDI");
    EXPECT_EQ(usb.product, "FT232R USB UART");
    EXPECT_EQ(usb.serialNumber, "A50285BI");
    EXPECT_EQ(usb.location, "1-1");
    EXPECT_EQ(
        usb.byId,
        (root.path() / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());

    const PortDescription& acm = ports[1];
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.vendorId, "2e8a");
    EXPECT_EQ(acm.serialNumber, "E661");
    EXPECT_EQ(acm.location, "2-1");
    EXPECT_TRUE(acm.byId.empty());

    const PortDescription& uart = ports[2];
    EXPECT_TRUE(uart.vendorId.empty());
    EXPECT_TRUE(uart.serialNumber.empty());
    EXPECT_TRUE(uart.location.empty());
    for (const PortDescription& p : ports) {
        EXPECT_TRUE(p.friendlyName.empty()) << p.device << ": Linux has no such name";
    }
}

// Adapters behind a hub, as the kernel lays them out below the host
// controller: each port's location is its own USB device's hub path, not
// the hub's (which has a vendor id too), and it stays with the hub port
// when the adapter comes back under another tty number.
TEST_F(FakeSysfs, LocationIsTheAdaptersHubPortPath) {
    const std::string bus = "pci0000:00/0000:00:14.0/usb1";
    UsbDevice(bus + "/1-1", "05e3", "USB2.0 Hub", "");
    UsbAdapter("ttyUSB0", bus + "/1-1/1-1.4", "A5");
    UsbAdapter("ttyUSB1", bus + "/1-1/1-1.2", "B7");
    auto ports = DiscoverPorts(roots);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].location, "1-1.4");
    EXPECT_EQ(ports[0].serialNumber, "A5");
    EXPECT_EQ(ports[1].location, "1-1.2");

    // Pulled and plugged back in: the kernel gives it another number.
    fs::remove_all(root.path() / "sys/class/tty/ttyUSB0");
    fs::remove_all(Devices() / bus / "1-1/1-1.4");
    UsbAdapter("ttyUSB2", bus + "/1-1/1-1.4", "A5");
    ports = DiscoverPorts(roots);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[1].device, Dev("ttyUSB2"));
    EXPECT_EQ(ports[1].location, "1-1.4");
}

// Nothing is cached: an adapter plugged in between two calls is found by
// the second, and one pulled is gone.
TEST_F(FakeSysfs, ReadsTheTreeAfreshAtEachCall) {
    Tty("ttyS0", Device("pnp0/00:01", "serial", "pnp"), "4");
    EXPECT_EQ(Names(DiscoverPorts(roots)), std::vector<std::string>{"ttyS0"});

    UsbAdapter("ttyUSB0", "1-1", "A5");
    EXPECT_EQ(Names(DiscoverPorts(roots)), (std::vector<std::string>{"ttyUSB0", "ttyS0"}));

    fs::remove_all(root.path() / "sys/class/tty/ttyUSB0");
    EXPECT_EQ(Names(DiscoverPorts(roots)), std::vector<std::string>{"ttyS0"});
}

// Bad or missing trees: nothing found, nothing thrown.
TEST_F(FakeSysfs, AMissingOrBrokenTreeFindsNothing) {
    EXPECT_TRUE(
        DiscoverPorts(DiscoveryRoots{(root.path() / "no-such").string(), roots.dev}).empty());
    Tty("ttyUSB0", root.path() / "sys/devices/gone");  // a dangling device link
    Write(root.path() / "sys/class/tty/stray-file", "x");
    EXPECT_TRUE(DiscoverPorts(roots).empty());
}

// --- The scan's order ----------------------------------------------------------------

TEST(ScanOrderTest, FixedNamesPutUsbAdaptersFirst) {
    const auto names = FixedPortNames();
    ASSERT_EQ(names.size(), 16u);
    EXPECT_EQ(names[0], "/dev/ttyUSB0");
    EXPECT_EQ(names[7], "/dev/ttyUSB7");
    EXPECT_EQ(names[8], "/dev/ttyACM0");
    EXPECT_EQ(names[12], "/dev/ttyS0");
    EXPECT_EQ(names[15], "/dev/ttyS3");
}

PortDescription Present(const std::string& device) {
    PortDescription p;
    p.device = device;
    return p;
}

struct ScanOrderCase {
    const char* name;
    std::vector<std::string> present;
    std::size_t size;
    std::vector<std::string> head;  // the first names, in order
    std::string last;
};

void PrintTo(const ScanOrderCase& c, std::ostream* os) {
    *os << c.name;
}

class ScanOrderTable : public ::testing::TestWithParam<ScanOrderCase> {};

TEST_P(ScanOrderTable, PresentPortsFirstThenTheRestOfTheFixedNames) {
    const ScanOrderCase& c = GetParam();
    std::vector<PortDescription> present;
    for (const std::string& d : c.present) {
        present.push_back(Present(d));
    }
    const auto order = ScanOrder(present, FixedPortNames());
    ASSERT_EQ(order.size(), c.size);
    for (std::size_t i = 0; i < c.head.size(); ++i) {
        EXPECT_EQ(order[i], c.head[i]) << "at " << i;
    }
    EXPECT_EQ(order.back(), c.last);
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            EXPECT_NE(order[i], order[j]) << "listed twice";
        }
    }
}

std::vector<std::string> ManyAdapters(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.push_back("/dev/ttyUSB" + std::to_string(i));
    }
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanOrderTable,
    ::testing::Values(
        ScanOrderCase{"nothing present", {}, 16, {"/dev/ttyUSB0", "/dev/ttyUSB1"}, "/dev/ttyS3"},
        // The case that took nine seconds: a board on ttyACM0 is tried first.
        ScanOrderCase{"an ACM board",
                      {"/dev/ttyACM0"},
                      16,
                      {"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"},
                      "/dev/ttyS3"},
        // Present names outside the fixed list push the last fixed ones out.
        ScanOrderCase{"ports outside the fixed names",
                      {"/dev/ttyUSB9", "/dev/ttyAMA0", "/dev/ttyS0"},
                      16,
                      {"/dev/ttyUSB9", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyUSB0"},
                      "/dev/ttyS1"},
        ScanOrderCase{
            "more present than sixteen", ManyAdapters(20), 20, {"/dev/ttyUSB0"}, "/dev/ttyUSB19"}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// The list a scan tries on a machine laid out as the fake tree: device
// nodes under /dev, so a port present that is also a fixed name meets
// itself there and is tried once, ahead. A UART placeholder is not present,
// but is still a fixed name; the last fixed names make room for the ports
// present beyond them.
TEST_F(FakeSysfs, ScanListTriesThePortsPresentFirstAndEachNameOnce) {
    UsbAdapter("ttyUSB10", "1-2", "B1");
    UsbAdapter("ttyUSB2", "1-1", "A5");
    UsbDevice("2-1", "2e8a", "Pico", "E66");
    Tty("ttyACM0", Device("2-1/2-1:1.0", "cdc_acm", "usb"));
    Tty("ttyS0", Device("pnp0/00:01", "serial", "pnp"), "4");
    Tty("ttyS1", Device("platform/serial8250", "serial8250", "platform"), "0");
    Tty("tty1", {});
    roots.dev = "/dev";
    const std::vector<std::string> expected = {
        "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyS0",    // present
        "/dev/ttyUSB0", "/dev/ttyUSB1",  "/dev/ttyUSB3", "/dev/ttyUSB4",  // then fixed
        "/dev/ttyUSB5", "/dev/ttyUSB6",  "/dev/ttyUSB7", "/dev/ttyACM1",
        "/dev/ttyACM2", "/dev/ttyACM3",  "/dev/ttyS1",   "/dev/ttyS2"};
    EXPECT_EQ(ScanOrder(DiscoverPorts(roots), FixedPortNames()), expected);
}

// This machine's serial devices, read plainly from sysfs rather than by the
// code under test: every tty with a device behind it, but for the serial
// core's placeholders of UARTs that are not there (type 0).
std::set<std::string> SerialDevicesOfThisMachine() {
    std::set<std::string> devices;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", ec)) {
        std::error_code none;
        if (!fs::exists(entry.path() / "device", none)) {
            continue;
        }
        std::ifstream type(entry.path() / "type");
        std::string uart;
        if (type >> uart && uart == "0") {
            continue;
        }
        devices.insert("/dev/" + entry.path().filename().string());
    }
    return devices;
}

// The platform's list, read afresh: this machine's serial devices first,
// then fixed names not among them, in their order, up to sixteen names in
// all.
TEST(PortListTest, IsThisMachinesPortsThenTheFixedNames) {
    const auto list = PortList();
    const std::set<std::string> present = SerialDevicesOfThisMachine();
    ASSERT_EQ(list.size(), std::max<std::size_t>(present.size(), 16u));
    EXPECT_EQ(std::set<std::string>(list.begin(), list.begin() + present.size()), present);
    const auto fixed = FixedPortNames();
    auto next = fixed.begin();  // the rest: fixed names, in their order
    for (std::size_t i = present.size(); i < list.size(); ++i) {
        EXPECT_EQ(present.count(list[i]), 0u) << list[i] << " twice";
        next = std::find(next, fixed.end(), list[i]);
        ASSERT_NE(next, fixed.end()) << list[i] << " is neither present nor a fixed name, "
                                     << "or out of the fixed names' order";
        ++next;  // each once
    }
}

}  // namespace
