// A fresh, empty folder for one test, removed with what it holds after it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

class StationFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_folder.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("station-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                m_folder = candidate;
            }
        }
        ASSERT_FALSE(m_folder.empty());
    }
    void TearDown() override {
        if (!m_folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_folder, ignored);
        }
    }

    std::string PathOf(const std::string& name) const { return (m_folder / name).string(); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
        return PathOf(name);
    }
    std::string Contents(const std::string& name) const {
        std::ifstream in(m_folder / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path m_folder;
};
