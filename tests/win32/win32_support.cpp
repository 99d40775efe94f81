// See win32_support.h.
#include "tests/win32/win32_support.h"

#include <utility>

#include "image/stored_image.h"

namespace {

std::string& DataDir() {
    static std::string dir;
    return dir;
}

std::function<void(HWND)> g_onWindow;
std::string g_waitCaption;

void CALLBACK WatchForWindow(HWND, UINT, UINT_PTR id, DWORD) {
    HWND w = FindWindowA(nullptr, g_waitCaption.c_str());
    if (w && IsWindowVisible(w)) {
        KillTimer(nullptr, id);
        auto action = std::move(g_onWindow);
        action(w);
    }
}

}  // namespace

void WhenWindowAppears(const std::string& caption, std::function<void(HWND)> action) {
    g_waitCaption = caption;
    g_onWindow = std::move(action);
    SetTimer(nullptr, 0, 50, &WatchForWindow);
}

void ChooseInFileDialog(const std::string& caption, const std::string& path) {
    WhenWindowAppears(caption, [path](HWND box) {
        HWND name = GetDlgItem(box, 0x47C);  // the file name box
        if (HWND edit = FindWindowExA(name, nullptr, "Edit", nullptr)) {
            name = edit;
        }
        if (name == nullptr) {
            name = GetDlgItem(box, 0x480);
        }
        SetWindowTextW(name, win32::Widen(path).c_str());
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
}

bool Pump(DWORD ms, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (done()) {
            return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return done();
}

const std::string& WineDataDir() {
    return DataDir();
}

void SetWineDataDir(std::string dir) {
    DataDir() = std::move(dir);
}

std::string StoredFile(MachineType type) {
    return DataDir() + "\\image" + std::to_string(type) + StoredFileSuffix(type);
}
