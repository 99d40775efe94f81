// Record files read back in tests.
#include "tests/test_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "station/json_object.h"

std::vector<std::map<std::string, std::string>> ReadRecords(const std::string& path) {
    // The path is UTF-8, as the station's paths are on every system.
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())));
    std::vector<std::map<std::string, std::string>> records;
    for (std::string line; std::getline(in, line);) {
        std::vector<JsonField> object;
        EXPECT_TRUE(ReadFlatJsonObject(line, object)) << line;
        std::map<std::string, std::string> fields;
        for (const JsonField& field : object) {
            fields[field.key] = field.text;
        }
        records.push_back(fields);
    }
    return records;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
