// Unscrambling and scrambling with the fixed 50-byte key.
#include "image/unscramble.h"

#include <algorithm>

#include "image/machine_types.h"

namespace {

// Walks the bytes one key length at a time, so that each byte's key byte is
// found by its place in the key instead of by a division: several times
// faster over the 128 kB an image may hold, with the same result.
template <class Apply>
void WithKey(std::uint8_t* bytes, std::size_t n, Apply apply) {
    for (std::size_t start = 0; start < n; start += kUnscrambleKeyLength) {
        const std::size_t count = std::min(kUnscrambleKeyLength, n - start);
        std::uint8_t* run = bytes + start;
        for (std::size_t k = 0; k < count; ++k) {
            run[k] = apply(run[k], UnscrambleKey[k]);
        }
    }
}

}  // namespace

void Unscramble(std::uint8_t* bytes, std::size_t n) {
    WithKey(bytes, n,
            [](std::uint8_t b, std::uint8_t key) { return static_cast<std::uint8_t>(b - key); });
}

void Scramble(std::uint8_t* bytes, std::size_t n) {
    WithKey(bytes, n,
            [](std::uint8_t b, std::uint8_t key) { return static_cast<std::uint8_t>(b + key); });
}
