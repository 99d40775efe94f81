// What the Win32 backend keeps for each window: its handle and, for a
// dialog, its controls and how it ended. Only the window backend's own
// files include this; a program without windows (download-cli.exe) links
// another backend's WindowImpl and must never see this one.
#pragma once

#include "framework/win32/win32.h"

#include "framework/window_data.h"

struct WindowImpl : WindowData {
    HWND hwnd = nullptr;
    bool defaultRequested = false;  // a handler asked for the default handling
};

namespace win32 {
// Makes a dialog's window from a template, hidden, with a wrapper for each
// control that has an id, and runs OnInitDialog. CDialog::Create and
// DoModal do so with the template AfxFindDialogTemplate gives; tests with
// templates of their own.
bool CreateDialogWindow(CDialog& dlg, const DialogTemplate& t, HWND owner);

// Hand-overs (handover.cpp). A dialog takes them from its creation, on the
// thread that made it, until it is forgotten: destroyed or deleted, on the
// same thread.
void WindowCreated(CWnd* window);
void ForgetWindow(CWnd* window);
}  // namespace win32
