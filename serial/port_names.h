// A serial port's name as a person writes it, and the one port it names.
//
// Principles of operation
// -----------------------
// A port's name is written by hand in three places: download-cli's --port,
// a station file's "port =" lines, and the station's setup dialog. Each of
// them takes what was written through NormalPortName, and from there on
// only the normal form is used: it is what is opened, shown and recorded.
// Two names are one port when their PortNameKeys are equal; a station
// refuses to give one port to two positions.
//
// What a name is:
//
//   serial:NUMBER     a USB adapter's name (serial/adapter_names.h); the
//   location:PATH     prefix in any case
//   COMn              on Windows, a COM port: "COM" in any case and a
//   \\.\COMn          number from 1 to 4096 without a leading zero, with
//                     or without the device namespace prefix
//   anything else     a device, by the system's own rules
//
// Their normal forms and keys. An adapter's name, on every system:
//
//   written                  normal form              key
//   serial:ft1a              serial:ft1a              serial:FT1A
//   SERIAL:FT1A              serial:FT1A              serial:FT1A
//   Location:Port_#0004.Hub_#0001
//                            location:Port_#0004...   location:PORT_#0004...
//
// A device's name:
//
//   written           Windows: normal form   key             POSIX: both
//   COM3              COM3                   COM3            COM3
//   com3              COM3                   COM3            com3
//   \\.\COM3          COM3                   COM3            \\.\COM3
//   COM21             \\.\COM21              \\.\COM21       COM21
//   \\.\com21         \\.\COM21              \\.\COM21       \\.\com21
//   \\.\cnca0         \\.\cnca0              \\.\CNCA0       \\.\cnca0
//   /dev/ttyUSB0      /dev/ttyUSB0           /DEV/TTYUSB0    /dev/ttyUSB0
//
// So on Windows a COM port's normal form is ComPortName's, the name that
// opens it: from COM10 on, Windows opens a COM port only by its name in
// the device namespace ("COM21" alone is "File not found"), and the
// prefix does no harm to COM1 to COM9 but is left off, as Windows' own
// lists leave it off. Windows' device names ignore case, so its keys are
// in capitals. On POSIX, "COM3" is a file in the current folder like any
// other, and a device's path is case-sensitive: nothing of it changes,
// and nothing is read from the disk, so a link and the device it points
// to are two names. An adapter is found by its serial number or location
// without regard to case on both (ResolvePortName), so its key has them in
// capitals; its normal form keeps them as written.
//
// Nothing else is tidied: blanks are part of a name, and a name that is
// not a COM port's by the rule above ("COM0", "COM007", "COM3:") is a
// device name as written.
#pragma once

#include <string>

enum class PortNaming {
    Windows,  // COM ports; device names ignore case
    Posix,    // paths; case-sensitive
};

// How the system this program is built for names its ports: each serial
// backend says. serial/win32/ and serial/memory/ (which stands in for
// Windows in the tests, with its COM port names) say Windows; serial/posix/
// says Posix.
PortNaming SystemPortNaming();

// The normal form of a port's name as written; see the table above.
std::string NormalPortName(const std::string& written, PortNaming naming = SystemPortNaming());

// The key of a port's name as written: two names are one port when their
// keys are equal ("COM3", "com3" and "\\.\COM3" on Windows; "serial:ft1"
// and "serial:FT1" everywhere).
std::string PortNameKey(const std::string& written, PortNaming naming = SystemPortNaming());
