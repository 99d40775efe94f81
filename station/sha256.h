// SHA-256, for the production record's image fingerprint: the system's own
// library computes it (station/crypto.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Lower-case hex digest of the bytes; empty in the rare case that the
// system's library could not compute it.
std::string Sha256Hex(const std::vector<std::uint8_t>& bytes);
