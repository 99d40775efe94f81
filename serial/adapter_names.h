// Ports named by their USB adapter instead of their device.
//
// A fixture position keeps its adapter when the system renumbers the
// device (ttyUSB0 becomes ttyUSB1 after a replug; Windows gives an adapter
// a new COM number in another socket). So a port may be named
//
//   serial:NUMBER    the adapter with that USB serial number;
//   location:PATH    the adapter in that USB socket ("1-1.4" on Linux, as
//                    --list-ports shows it on each platform).
//
// Any other name is a device name. An adapter name is resolved among the
// ports present each time it is used, never once for good. The prefixes
// and the texts after them compare without regard to case (Windows spells
// serial numbers in capitals); serial/port_names.h writes them in their
// normal form.
// An adapter with several ports (one serial number, several devices) is
// ambiguous by either name and is refused with the devices it has: name
// one of them by its device then.
#pragma once

#include <string>
#include <vector>

#include "serial/port_discovery.h"

enum class AdapterKey { None, SerialNumber, Location };

// Which kind of name this is; for an adapter name, `value` gets what
// follows the prefix ("Serial:A1" -> SerialNumber, "A1").
AdapterKey AdapterNameKind(const std::string& name, std::string* value = nullptr);
// The adapter's name with its prefix as written here, in lower case:
// (SerialNumber, "A1") -> "serial:A1". A key of None gives the value alone.
std::string AdapterName(AdapterKey key, const std::string& value);

struct ResolvedPort {
    std::string device;       // what to open
    PortDescription present;  // what is known of it; empty fields when not present
};

// Resolves `name` among `present`. A device name resolves to itself, with
// what is known of it when it is present. An adapter name resolves to its
// one device; when there is none or more than one, returns false and
// `error` says so ("no USB adapter with serial number FT1234 is present").
bool ResolvePortName(const std::string& name, const std::vector<PortDescription>& present,
                     ResolvedPort& resolved, std::string& error);
