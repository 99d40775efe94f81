// download-cli's options that tell rather than program: --help, --version
// and --list-ports, and the formatting of the port list; target-sim's
// --help and --version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dt_version.h"
#include "tests/cli/posix/cli_process.h"
#include "tools/cli/list_ports.h"

namespace {

// Usage and version go to standard output with status 0, whatever else is
// on the line, so that `download-cli --help | less` and help2man work.
TEST(InfoOptionsTest, HelpAndVersionPrintOnStandardOutputAndExit0) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"--type", "1", "--help"}}) {
        const auto r = RunCli(args);
        EXPECT_EQ(r.exitStatus, 0) << args.back();
        EXPECT_TRUE(r.out.starts_with("usage: download-cli --type 0|1|2")) << r.out;
        EXPECT_NE(r.out.find("--list-ports"), std::string::npos);
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.err, "");
    }
    const auto v = RunCli({"--version"});
    EXPECT_EQ(v.exitStatus, 0);
    EXPECT_EQ(v.out, std::string("download-cli ") + DT_VERSION + "\n");
    EXPECT_EQ(v.err, "");
}

TEST(InfoOptionsTest, TargetSimHelpAndVersionPrintOnStandardOutputAndExit0) {
    std::string out;
    ChildProcess help;
    ASSERT_TRUE(help.Start({DT_TARGET_SIM_PATH, "--help"}));
    EXPECT_EQ(help.Wait(&out, 10000), 0);
    EXPECT_TRUE(out.starts_with("usage: target-sim ")) << out;
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n') << "the usage ends its last line";
    EXPECT_NE(out.find("--version"), std::string::npos);

    ChildProcess version;
    ASSERT_TRUE(version.Start({DT_TARGET_SIM_PATH, "--version"}));
    EXPECT_EQ(version.Wait(&out, 10000), 0);
    EXPECT_EQ(out, std::string("target-sim ") + DT_VERSION + "\n");
}

// On this machine, whatever it has: one line per port, each naming a
// device, in both forms, and the same ports in both.
TEST(InfoOptionsTest, ListPortsNamesOneDeviceALineInTextAndJson) {
    const auto text = RunCli({"--list-ports"});
    const auto json = RunCli({"--list-ports", "--json"});
    ASSERT_EQ(text.exitStatus, 0) << text.err;
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    const auto textLines = Lines(text.out);
    const auto jsonLines = Lines(json.out);
    ASSERT_EQ(textLines.size(), jsonLines.size());
    for (std::size_t i = 0; i < textLines.size(); ++i) {
        const std::string device = textLines[i].substr(0, textLines[i].find(':'));
        EXPECT_TRUE(device.starts_with("/dev/")) << textLines[i];
        EXPECT_TRUE(jsonLines[i].starts_with("{\"port\":\"" + device + "\",\"kind\":"))
            << jsonLines[i];
        EXPECT_EQ(jsonLines[i].back(), '}');
    }
}

PortDescription Adapter() {
    PortDescription p;
    p.device = "/dev/ttyUSB0";
    p.kind = "usb";
    p.driver = "ftdi_sio";
    p.vendorId = "0403";
    p.productId = "6001";
    p.manufacturer = "FTDI";
    p.product = "FT232R USB UART";
    p.serialNumber = "A50285BI";
    p.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    return p;
}

PortDescription Uart() {
    PortDescription p;
    p.device = "/dev/ttyS0";
    p.kind = "uart";
    p.driver = "serial";
    return p;
}

TEST(ListPortsFormatTest, TextTellsWhatIsKnownAndLeavesOutTheRest) {
    EXPECT_EQ(FormatPortList({Adapter(), Uart()}, false),
              "/dev/ttyUSB0: usb, driver ftdi_sio, USB 0403:6001 FTDI FT232R USB UART, serial "
              "number A50285BI, /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
              "/dev/ttyS0: uart, driver serial\n");
    EXPECT_EQ(FormatPortList({}, false), "");
    EXPECT_EQ(FormatPortList({}, true), "");
}

TEST(ListPortsFormatTest, JsonHasOneObjectALineWithTheKnownKeys) {
    EXPECT_EQ(FormatPortList({Adapter(), Uart()}, true),
              "{\"port\":\"/dev/ttyUSB0\",\"kind\":\"usb\",\"driver\":\"ftdi_sio\","
              "\"vendor_id\":\"0403\",\"product_id\":\"6001\",\"manufacturer\":\"FTDI\","
              "\"product\":\"FT232R USB UART\",\"serial_number\":\"A50285BI\",\"by_id\":"
              "\"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\"}\n"
              "{\"port\":\"/dev/ttyS0\",\"kind\":\"uart\",\"driver\":\"serial\"}\n");
}

// A Windows adapter: its friendly name, quoted, after the kind, and where
// it is plugged in after its serial number; the Linux adapter's location
// in the same place.
TEST(ListPortsFormatTest, FriendlyNameAndLocationWhenKnown) {
    PortDescription com;
    com.device = "\\\\.\\COM17";
    com.kind = "usb";
    com.friendlyName = "USB Serial Port (COM17)";
    com.driver = "FTSER2K";
    com.vendorId = "0403";
    com.productId = "6001";
    com.manufacturer = "FTDI";
    com.serialNumber = "A1B2C3D4";
    com.location = "Port_#0004.Hub_#0001";
    PortDescription tty = Adapter();
    tty.location = "1-1.4";
    EXPECT_EQ(FormatPortList({com, tty}, false),
              "\\\\.\\COM17: usb, \"USB Serial Port (COM17)\", driver FTSER2K, USB 0403:6001 "
              "FTDI, serial number A1B2C3D4, location Port_#0004.Hub_#0001\n"
              "/dev/ttyUSB0: usb, driver ftdi_sio, USB 0403:6001 FTDI FT232R USB UART, serial "
              "number A50285BI, location 1-1.4, "
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
    EXPECT_EQ(FormatPortList({com}, true),
              "{\"port\":\"\\\\\\\\.\\\\COM17\",\"kind\":\"usb\",\"friendly_name\":"
              "\"USB Serial Port (COM17)\",\"driver\":\"FTSER2K\",\"vendor_id\":\"0403\","
              "\"product_id\":\"6001\",\"manufacturer\":\"FTDI\",\"serial_number\":"
              "\"A1B2C3D4\",\"location\":\"Port_#0004.Hub_#0001\"}\n");
}

// A device's own texts may hold anything: quotes and backslashes are
// escaped in JSON, and no control character (an escape sequence, a line
// break that would make two lines of one port) reaches the output raw.
TEST(ListPortsFormatTest, TheDevicesTextsCannotBreakTheOutput) {
    PortDescription p = Adapter();
    p.product = std::string("Evil\x1b[2J\"\\\nport\x7f", 16);
    const std::string json = FormatPortList({p}, true);
    EXPECT_NE(json.find("\"product\":\"Evil\\u001b[2J\\\"\\\\\\u000aport\\u007f\""),
              std::string::npos)
        << json;
    EXPECT_EQ(Lines(json).size(), 1u);
    const std::string text = FormatPortList({p}, false);
    EXPECT_NE(text.find("FTDI Evil?[2J\"\\?port?,"), std::string::npos) << text;
    EXPECT_EQ(Lines(text).size(), 1u);
}

}  // namespace
