// What the Win32 backend keeps for each window: its handle and, for a
// dialog, its controls and how it ended. Only the window backend's own
// files include this; a program without windows (download-cli.exe) links
// another backend's WindowImpl and must never see this one.
//
// A dialog made on a window thread (framework/window_thread.h) is drawn:
// neither it nor its controls have a window of the platform's. Such a
// dialog is never shown, and the platform's controls, made on several
// threads at once, do not take it: Wine's edit fields (a combo box's
// among them) share one text-layout cache across the process, and threads
// setting their texts at once now and then faulted inside it and left its
// lock held, after which every thread that set a text blocked for good.
// What a drawn control shows is kept in DrawnWindowData alone; its dialog's
// timers are its thread's (window_thread.cpp), and its hand-overs, as every
// window's, its thread's queue (handover.cpp).
#pragma once

#include "framework/win32/win32.h"

#include "framework/window_data.h"

struct WindowImpl : DrawnWindowData {
    HWND hwnd = nullptr;
    bool defaultRequested = false;  // a handler asked for the default handling
    bool drawn = false;             // a window thread's dialog, or one of its controls
    bool alive = false;             // a drawn dialog: created and not yet destroyed
};

namespace win32 {
// Makes a dialog's window from a template, hidden, with a wrapper for each
// control that has an id, and runs OnInitDialog. CDialog::Create and
// DoModal do so with the template AfxFindDialogTemplate gives; tests with
// templates of their own.
bool CreateDialogWindow(CDialog& dlg, const DialogTemplate& t, HWND owner);

// Hand-overs (handover.cpp). A dialog takes them from its creation, on the
// thread that made it, until it is forgotten: destroyed or deleted, on the
// same thread. Forgetting it also drops a drawn dialog's timers.
void WindowCreated(CWnd* window);
void ForgetWindow(CWnd* window);
// A window thread's hand-over queue, from its start to its end
// (window_thread.cpp): UseThreadHandOvers returns the event set whenever a
// hand-over waits; HandleThreadHandOvers runs every one waiting.
HANDLE UseThreadHandOvers();
void HandleThreadHandOvers();
void EndThreadHandOvers();

// Timers of drawn dialogs, which are their window thread's own
// (window_thread.cpp): periodic, replaced when armed again, and served by
// the thread's loop after the hand-overs waiting.
void ArmThreadTimer(CWnd* window, UINT_PTR id, UINT period);
bool DisarmThreadTimer(CWnd* window, UINT_PTR id);
void ForgetThreadTimers(CWnd* window);
}  // namespace win32
