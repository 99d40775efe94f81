// The supervisor's password as a station file keeps it: never the password
// itself, only a salted, slow hash of it, which a password typed in is
// checked against.
//
// The hash's text
// ---------------
//
//     pbkdf2-sha256$ITERATIONS$SALT$HASH
//
//     ITERATIONS  PBKDF2's rounds: a whole number from 1000 to 10000000
//                 (600000 in a hash made here).
//     SALT        8 to 64 bytes as 16 to 128 hex digits (16 random bytes
//                 in a hash made here).
//     HASH        the 32 bytes (64 hex digits) that PBKDF2 with
//                 HMAC-SHA256 (RFC 8018) derives from the password's UTF-8
//                 bytes and the salt over ITERATIONS rounds.
//
// Hex digits are read in either case and written in lower case. The rounds
// make each guess cost what a check costs (a fraction of a second at
// 600000); the salt makes every station's hash its own. A hash is made and
// checked by the system's library (station/crypto.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kPasswordScheme[] = "pbkdf2-sha256";
inline constexpr std::uint32_t kPasswordIterations = 600000;
inline constexpr std::uint32_t kMinPasswordIterations = 1000;
inline constexpr std::uint32_t kMaxPasswordIterations = 10000000;
inline constexpr std::size_t kPasswordSaltBytes = 16;
inline constexpr std::size_t kMinPasswordSaltBytes = 8;
inline constexpr std::size_t kMaxPasswordSaltBytes = 64;
inline constexpr std::size_t kPasswordHashBytes = 32;

struct PasswordHash {
    std::uint32_t iterations = 0;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> hash;
    bool operator==(const PasswordHash&) const = default;
};

// Reads a hash's text. False, with what is wrong with it in why ("is not
// pbkdf2-sha256$ITERATIONS$SALT$HASH", "has a salt that is not 16 to 128
// hex digits"), and hash left as it was, when it is not one.
bool ParsePasswordHash(std::string_view text, PasswordHash& hash, std::string& why);
// The hash's text, which ParsePasswordHash reads back to the same hash.
std::string FormatPasswordHash(const PasswordHash& hash);

// Hashes password with a new random salt over iterations rounds. False,
// with the library's reason, when it could not.
bool HashPassword(std::string_view password, std::uint32_t iterations, PasswordHash& hash,
                  std::string& error);

enum class PasswordCheck { Right, Wrong, Failed };
// Whether password is the one hash was made of: derived again with its salt
// and rounds, and compared in constant time. Failed, with the library's
// reason in error, when it could not be derived.
PasswordCheck CheckPassword(std::string_view password, const PasswordHash& hash,
                            std::string& error);
