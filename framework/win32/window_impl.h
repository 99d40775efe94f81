// What the Win32 backend keeps for each window: its handle and, for a
// dialog, its controls and how it ended. Only the window backend's own
// files include this; a program without windows (download-cli.exe) links
// another backend's WindowImpl and must never see this one.
#pragma once

#include "framework/win32/win32.h"

#include <memory>
#include <vector>

struct WindowImpl {
    HWND hwnd = nullptr;
    bool isControl = false;
    CWnd* dialog = nullptr;  // the dialog that owns a control

    // Dialogs.
    const DialogTemplate* tmpl = nullptr;
    std::vector<std::unique_ptr<CWnd>> controls;
    CMenu systemMenu;
    bool defaultRequested = false;  // a handler asked for the default handling
    bool ended = false;
    int result = IDCANCEL;

    static void SetControlId(CWnd& control, int id) { control.m_nID = id; }
};
