// JSON strings for download-cli's output: --json events, --record lines and
// --list-ports. Texts may come from devices or file names, so every control
// character is escaped and none reaches a terminal or a log as it is.
#pragma once

#include <string>

// s as a quoted JSON string.
std::string JsonString(const std::string& s);
