// Reading a record file back in tests: each line's fields, keyed by name.
#pragma once

#include <map>
#include <string>
#include <vector>

// Every line of the file at path (UTF-8) must be one flat JSON object (a
// failure of the running test otherwise); values as text, strings
// unescaped.
std::vector<std::map<std::string, std::string>> ReadRecords(const std::string& path);

// The whole file at path (UTF-8), as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
