// The computer's name, as the records give the station.
#include "station/computer_name.h"

#include "framework/win32/win32.h"

std::string StationName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) {
        return "";
    }
    return std::string(name, size);
}
