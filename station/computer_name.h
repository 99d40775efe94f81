// This computer's name, as the production records give the station: the
// host name. station/posix/computer_name.cpp and
// station/win32/computer_name.cpp implement it.
#pragma once

#include <string>

// Empty when the system does not say.
std::string StationName();
