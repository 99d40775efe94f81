// The computer's name, as the records give the station, in UTF-8.
#include "station/computer_name.h"

#include "framework/win32/win32.h"

std::string StationName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size)) {
        return "";
    }
    return win32::Utf8(std::wstring_view(name, size));
}
