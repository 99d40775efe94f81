// Test data shared by every test program.
#include "tests/test_data.h"

#include <cstdio>

#include "ui/status_texts.h"

Bytes Pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::string ProgressText(unsigned percent) {
    char text[64];
    std::snprintf(text, sizeof text, kStatusProgressFormat, percent);
    return text;
}
