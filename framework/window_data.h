// What every backend keeps for a window, whatever else its WindowImpl holds.
//
// Principles of operation
// -----------------------
// Each backend defines its own WindowImpl (its handle, its widgets) and
// derives it from WindowData, so that the framework's portable code
// (framework/cwnd.cpp, window_data.cpp) reaches a dialog's controls and how
// it ended without knowing the backend. A dialog owns the CWnd of each of
// its controls; a control points back at its dialog.
//
// The headless and GTK backends keep each control's state themselves
// (Win32's dialog manager keeps it for the platform's own controls), and so
// do GTK and Win32 for the hidden dialogs of window threads, which have no
// widgets or windows at all: they derive from DrawnWindowData, and share
// the control messages carried out on that state and the default handling
// of the messages a dialog does not handle itself.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/dialog_template.h"
#include "framework/progress_state.h"

struct WindowData {
    bool isControl = false;
    CWnd* dialog = nullptr;  // the dialog that owns a control

    // Dialogs.
    const DialogTemplate* tmpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> controls;  // in template order
    CMenu systemMenu;
    bool ended = false;  // EndDialog, or destroyed
    int result = IDCANCEL;

    // A control's id is set once, when its dialog makes it.
    static void SetControlId(CWnd& control, int id);
};

struct DrawnWindowData : WindowData {
    // Controls.
    ControlKind kind = ControlKind::Static;
    std::string text;  // a dialog's caption
    bool enabled = true;
    int curSel = -1;                 // combo box
    std::vector<std::string> items;  // combo box
    bool masked = false;             // edit: a password field (ControlTemplate::password)
    ProgressState progress;          // progress bar

    // Dialogs.
    HICON bigIcon = nullptr, smallIcon = nullptr;
};

// The result a dialog was ended with (EndDialog, or destroyed), if it has
// been ended.
std::optional<int> EndedWith(const CWnd& dialog);

// Makes the control of `dialog` that `ct` describes, as the template sets
// it up: kind, text, enabled.
std::unique_ptr<CWnd> MakeDrawnControl(CDialog* dialog, const ControlTemplate& ct);

// Carries out a control message (CB_*, PBM_*) on a drawn control's state, as
// the platform's controls do: CB_SETCURSEL shows the item chosen in the
// edit field, or no selection for an index past the list (CB_ERR); a
// progress bar keeps its position within its range (progress_state.h).
// Anything else is 0.
LRESULT DrawnControlMessage(CWnd& control, UINT message, WPARAM wParam, LPARAM lParam);

// The default handling of a drawn window: WM_SETICON keeps the icon (the
// old one is returned), SC_CLOSE ends a dialog as Cancel, anything else is
// 0. The backend shows a new icon itself, and erases an icon's background.
LRESULT DrawnDefWindowProc(CWnd& wnd, UINT message, WPARAM wParam, LPARAM lParam);
