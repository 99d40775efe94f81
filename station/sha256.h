// SHA-256, for the production record's image fingerprint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Lower-case hex digest of the bytes.
std::string Sha256Hex(const std::vector<std::uint8_t>& bytes);
