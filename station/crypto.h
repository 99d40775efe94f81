// The hashes and random bytes the station uses: an image's SHA-256, and the
// supervisor's password kept as a salted, slow hash (station/password.h).
//
// Principles of operation
// -----------------------
// Nothing here is computed by our own code: each system's own library does
// it, behind this one interface. station/posix/crypto.cpp uses OpenSSL's
// libcrypto; station/win32/crypto.cpp uses the system's BCrypt
// (BCryptDeriveKeyPBKDF2, a SHA-256 hash object, BCryptGenRandom). Only the
// constant-time comparison is portable code (station/crypto.cpp).
//
// Every call may be made from any thread, and holds no state between calls.
// A call that fails returns false and says why in error, naming the library
// call and its code ("BCryptOpenAlgorithmProvider: 0xC0000225"); what it
// was to fill is then left as it was.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kSha256Bytes = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Bytes>;

// SHA-256 (FIPS 180-4) of the size bytes at data.
bool Sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest, std::string& error);

// PBKDF2 (RFC 8018) with HMAC-SHA256 as its pseudo-random function: fills
// key, whose size says how many bytes to derive (1 to 1024), from the bytes
// of password and salt over iterations rounds (1 to 100000000).
bool Pbkdf2Sha256(std::string_view password, const std::vector<std::uint8_t>& salt,
                  std::uint32_t iterations, std::vector<std::uint8_t>& key, std::string& error);

// Fills bytes with random bytes from the system's generator, fit for salts
// and keys.
bool RandomBytes(std::vector<std::uint8_t>& bytes, std::string& error);

// True when a and b are the same bytes. The time it takes depends on their
// lengths alone, never on where they differ.
bool SameBytesInConstantTime(const std::vector<std::uint8_t>& a,
                             const std::vector<std::uint8_t>& b);
