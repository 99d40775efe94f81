// What became of a port that a scan tried.
#pragma once

#include <cstdint>

// SettingsRefused follows Opened when the driver refused a line setting;
// the scan goes on with the port all the same, as the window does.
enum class PortOutcome : std::uint8_t { Opened, OpenFailed, SettingsRefused, NoAnswer };
