// What a path that is not a regular file is, in the words every refusal of
// one uses ("Not a regular file (a FIFO)"): the file class's, and those of
// any other reader that takes regular files only.
#pragma once

#include <sys/stat.h>

inline const char* NotARegularFile(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "Not a regular file (a FIFO)";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "Not a regular file (a device)";
    }
    if (S_ISSOCK(mode)) {
        return "Not a regular file (a socket)";
    }
    return "Not a regular file";
}
