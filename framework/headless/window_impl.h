// What a headless window or control records. Private to the headless backend.
#pragma once

#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/window_data.h"

struct WindowImpl : DrawnWindowData {
    // Controls.
    bool visible = true;

    // Dialogs.
    bool alive = false;  // written under headless::Lock()
    bool iconic = false;
};

namespace headless {
void ArmTimer(CWnd* window, UINT_PTR id, UINT period);
bool DisarmTimer(CWnd* window, UINT_PTR id);
void ForgetWindow(CWnd* window);  // drops its timers and refuses hand-overs to it
void NotifyControlChanged(CWnd* control);
}  // namespace headless
