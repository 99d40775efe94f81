// Test data shared by every test program.
#include "tests/test_data.h"

#include <algorithm>
#include <fstream>
#include <random>

Bytes Pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::filesystem::path UniqueTempPath(std::string stem, const std::string& suffix) {
    std::replace(stem.begin(), stem.end(), '/', '_');
    return std::filesystem::temp_directory_path() /
           (stem + "-" + std::to_string(std::random_device{}()) + suffix);
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::string ProgressText(unsigned percent) {
    // Written out, not taken from the format the code uses: four blanks
    // after the dots, two at the end.
    return "Programming...    " + std::to_string(percent) + "% Done  ";
}
