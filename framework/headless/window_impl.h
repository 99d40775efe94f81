// What a headless window or control records. Private to the headless backend.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/dialog_template.h"
#include "framework/progress_state.h"

struct WindowImpl {
    // Controls.
    bool isControl = false;
    ControlKind kind = ControlKind::Static;
    CWnd* dialog = nullptr;  // the dialog that owns a control
    std::string text;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> items;  // combo box
    int curSel = -1;
    ProgressState progress;  // progress bar

    // Dialogs.
    const DialogTemplate* tmpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> controls;
    CMenu systemMenu;
    bool alive = false;  // written under headless::Lock()
    bool iconic = false;
    bool ended = false;
    int result = IDCANCEL;
    HICON bigIcon = nullptr, smallIcon = nullptr;
};

namespace headless {
void ArmTimer(CWnd* window, UINT_PTR id, UINT period);
bool DisarmTimer(CWnd* window, UINT_PTR id);
void ForgetWindow(CWnd* window);  // drops its timers and refuses hand-overs to it
void NotifyControlChanged(CWnd* control);
}  // namespace headless
