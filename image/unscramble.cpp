// Unscrambling and scrambling with the fixed 50-byte key.
#include "image/unscramble.h"

#include "image/machine_types.h"

void Unscramble(std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bytes[i] - UnscrambleKey[i % kUnscrambleKeyLength]);
    }
}

void Scramble(std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bytes[i] + UnscrambleKey[i % kUnscrambleKeyLength]);
    }
}
