// Unscrambling "*.UPL" images: each stored byte i is the image byte plus
// UnscrambleKey[i mod 50], mod 256.
#pragma once

#include <cstddef>
#include <cstdint>

void Unscramble(std::uint8_t* bytes, std::size_t n);
// The inverse, for tools that make "*.UPL" files.
void Scramble(std::uint8_t* bytes, std::size_t n);
