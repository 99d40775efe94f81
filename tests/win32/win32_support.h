// What the Windows test runner's tests share: the message loop they run,
// windows waited for and file dialogs answered from inside it, and the
// images run_under_wine.sh had this program write (--write-images) for the
// simulated machines to expect.
#pragma once

#include "framework/win32/win32.h"

#include <functional>
#include <string>

#include "image/machine_types.h"

// Runs the message loop for up to ms of real time, or until done() holds.
bool Pump(
    DWORD ms, const std::function<bool()>& done = [] { return false; });

// Something to do once a window with this caption is up, from inside
// whatever modal loop is running then. One at a time: a second call
// replaces what the first asked for.
void WhenWindowAppears(const std::string& caption, std::function<void(HWND)> action);
// Once the common file dialog with this caption ("Open", "Save As") is up,
// types path (UTF-8) as the file's name and presses its OK button.
void ChooseInFileDialog(const std::string& caption, const std::string& path);

// The folder of the images, as a Windows path (DT_WINE_DATA); empty when
// the runner was started without it.
const std::string& WineDataDir();
void SetWineDataDir(std::string dir);
// The stored file of each machine type in that folder: raw for type 0,
// scrambled for 1, 2.
std::string StoredFile(MachineType type);
