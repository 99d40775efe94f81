// Test data shared by every test program.
#include "tests/test_data.h"

#include <algorithm>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

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

namespace {

std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
}

}  // namespace

TempDir::TempDir(const std::string& stem) : m_path(UniqueTempPath(stem + "-" + CurrentTestName())) {
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;  // a destructor does not throw
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const Bytes& bytes) const {
    const auto path = m_path / name;
    WriteBytes(path, bytes);
    return path;
}

std::string ProgressText(unsigned percent) {
    // Written out, not taken from the format the code uses: four blanks
    // after the dots, two at the end.
    return "Programming...    " + std::to_string(percent) + "% Done  ";
}
