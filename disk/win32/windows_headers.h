// The Win32 headers for the disk layer, set up once: the disk layer sits
// below the framework and cannot take framework/win32/win32.h.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
