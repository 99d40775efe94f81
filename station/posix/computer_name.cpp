// The host name, as the records give the station.
#include "station/computer_name.h"

#include <unistd.h>

std::string StationName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}
