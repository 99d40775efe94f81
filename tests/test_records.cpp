// Record files read back in tests.
#include "tests/test_records.h"

#include <gtest/gtest.h>

#include <fstream>

#include "station/json_object.h"

std::vector<std::map<std::string, std::string>> ReadRecords(const std::string& path) {
    std::ifstream in(path);
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
