// Bytes written as hex digits, as the station file and the records write
// hashes and salts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The value of one hex digit (either case), or -1 for another character.
int HexDigitValue(char c);

// Two lower-case hex digits a byte.
std::string HexOf(const std::uint8_t* bytes, std::size_t size);
inline std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    return HexOf(bytes.data(), bytes.size());
}
// The bytes that text writes, two hex digits (either case) a byte. False,
// with bytes left as they were, for anything else: an odd count, another
// character.
bool BytesOfHex(std::string_view text, std::vector<std::uint8_t>& bytes);
