// The command line of download-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/serial_numbers.h"

struct CliOptions {
    int type = -1;                   // machine type, 0 to 2
    std::vector<std::string> ports;  // empty: the platform's port list
    std::string image;               // the image file, as the window's Load File reads it
    double timeoutSeconds = 10;      // silence after the machine's first answer
    bool json = false;
    bool parallel = false;
    bool loop = false;
    bool fast = false;
    std::string record;        // append one JSON line per unit here
    std::string expectSha256;  // lowercase hex; when set, the image must have this SHA-256
    bool listPorts = false;    // print the serial ports present and end
    // A station file: its settings in place of --type, --port, --timeout,
    // --record, --expect-sha256 and the image, run as --parallel --loop.
    std::string stationFile;
    bool unitIds = false;  // unit IDs from standard input, "POSITION ID" a line
    int limit = 0;         // the station file's limit of units done; 0: none
    SerialPlan serial;     // the station file's serial numbers
};

inline constexpr char kCliUsage[] =
    "usage: download-cli --type 0|1|2 [--port NAME]... [options] IMAGE\n"
    "       download-cli --station FILE [--json] [--fast] [--unit-ids]\n"
    "       download-cli --list-ports [--json]\n"
    "\n"
    "Programs IMAGE into the machine that answers on the first of the ports\n"
    "(by default the serial ports present, then the usual device names, tried\n"
    "one a second).\n"
    "\n"
    "  --type N        0 Lorvane 300 (*.EUP), 1 Quenta 5X (*.UPL), 2 ZT418 (*.UPL)\n"
    "  --port NAME     a port to try; repeat for several, tried in order. NAME is a\n"
    "                  device (/dev/ttyUSB0 on Linux; COM3, com12 or \\\\.\\COM12 on\n"
    "                  Windows), serial:NUMBER (the USB adapter with that serial\n"
    "                  number) or location:PATH (the adapter in that USB socket,\n"
    "                  such as location:1-1.4 on Linux)\n"
    "  --timeout S     give up when the machine is silent for S seconds (default 10)\n"
    "  --expect-sha256 HEX\n"
    "                  refuse to start unless the image's SHA-256 is HEX (64 hex\n"
    "                  digits)\n"
    "  --json          one JSON event per line on standard output\n"
    "  --parallel      program a machine on every --port at once; with --loop, each\n"
    "                  port is a fixture position with a loop of its own\n"
    "  --loop          after each unit, wait for the next one (until interrupted);\n"
    "                  exit 0 when every unit was done, else 1\n"
    "  --record FILE   append one JSON line per programmed unit to FILE, each\n"
    "                  flushed to disk before the unit's result is shown\n"
    "  --fast          block protocol: hand each frame over as soon as it is complete\n"
    "  --station FILE  run the station file FILE (as download-station does, without\n"
    "                  a window): its positions, image, records and the day's counts\n"
    "  --unit-ids      read unit IDs from standard input, a line \"POSITION ID\" each\n"
    "                  (POSITION from 1): the next unit there takes the ID, and its\n"
    "                  record carries it\n"
    "  --list-ports    print the serial ports present, one a line (with --json, as\n"
    "                  JSON objects), and what is known of each\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "An option's value may also follow it after '=' (--timeout=30).\n"
    "\n"
    "Exit status: 0 done (the whole image written, drained and taken), 1 with\n"
    "--loop when a unit was not done, 2 bad arguments, an unreadable image or a\n"
    "record file that cannot be opened, 3 no machine found, 4 stopped by the\n"
    "machine, 5 the machine fell silent, 6 the port was lost, 7 the machine ended\n"
    "the download before the whole image was sent, 8 the port did not take a\n"
    "block (a write failed or did not drain in time), 9 a record could not be\n"
    "written, 130 interrupted by Ctrl+C, 143 by SIGTERM.\n";

// Parses argv by the table of tools/options/command_line.h; on error returns
// nullopt and sets error to the one line that refuses it. --list-ports
// needs no type or image. --help and --version are answered before parsing
// (tools/options/info_options.h). A port is kept as it was typed: its normal form
// (NormalPortName, serial/port_names.h) and finding an adapter by its
// serial number or location are left to the program.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);
