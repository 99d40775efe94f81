// What the Windows test runner's tests share: the message loop they run,
// and the images run_under_wine.sh had this program write (--write-images)
// for the simulated machines to expect.
#pragma once

#include "framework/win32/win32.h"

#include <functional>
#include <string>

#include "image/machine_types.h"

// Runs the message loop for up to ms of real time, or until done() holds.
bool Pump(
    DWORD ms, const std::function<bool()>& done = [] { return false; });

// The folder of the images, as a Windows path (DT_WINE_DATA); empty when
// the runner was started without it.
const std::string& WineDataDir();
void SetWineDataDir(std::string dir);
// The stored file of each machine type in that folder: raw for type 0,
// scrambled for 1, 2.
std::string StoredFile(MachineType type);
