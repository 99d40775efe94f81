// The two options every program of the download tool answers before it
// looks at anything else, wherever they stand among its arguments:
// --help (or -h) prints its usage, --version its name and version.
#pragma once

#include <cstdio>
#include <cstring>

#include "dt_version.h"

// True when the arguments hold one of them: it has then been answered on
// standard output, and the program ends with status 0.
inline bool AnswerInfoOptions(int argc, char** argv, const char* program, const char* usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", program, DT_VERSION);
            return true;
        }
    }
    return false;
}
