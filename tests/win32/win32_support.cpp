// See win32_support.h.
#include "tests/win32/win32_support.h"

#include <utility>

#include "image/stored_image.h"

namespace {

std::string& DataDir() {
    static std::string dir;
    return dir;
}

}  // namespace

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
