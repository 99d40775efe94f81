// An image as the files of its machine type hold it: "*.UPL" files (the
// framed machines, which unscramble on load) keep it scrambled, "*.EUP"
// files keep it as it is. For whatever makes image files: the window's
// demo, the terminal demo, tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/machine_types.h"

// The bytes of a file of `type` that Load File reads as `image`.
std::vector<std::uint8_t> StoredImage(MachineType type, std::vector<std::uint8_t> image);
// How the names of the type's files end: ".EUP" or ".UPL".
std::string StoredFileSuffix(MachineType type);
// Writes the file of `type` holding `image` at `path`, replacing what was
// there. False when it could not be written whole.
bool WriteStoredImage(const std::string& path, MachineType type,
                      const std::vector<std::uint8_t>& image);
