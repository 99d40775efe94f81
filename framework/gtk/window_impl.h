// What a GTK window or control holds. Private to the GTK backend.
#pragma once

#include "framework/gtk/gtk_headers.h"

#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/window_data.h"

// A paint context: the cairo context of the draw being handled, if any.
struct HDC__ {
    cairo_t* cr = nullptr;
};

// An icon: the same picture at the two system sizes.
struct HICON__ {
    GdkPixbuf* big = nullptr;    // 32 x 32
    GdkPixbuf* small = nullptr;  // 16 x 16
};

// The widget is held by a reference of our own, so the CWnd can still
// answer after its window has been destroyed; what a control showed is then
// read from the copies in DrawnWindowData (text, enabled). A combo box's
// selection is kept there too: typing leaves it.
// A dialog made on a window thread (framework/window_thread.h) has no
// widgets at all: GTK's widgets belong to the main thread, and the dialog is
// never shown. Its controls keep what they show in DrawnWindowData alone,
// and a combo box its entries in `items`.
struct WindowImpl : DrawnWindowData {
    ~WindowImpl();

    // Controls.
    GtkWidget* widget = nullptr;
    GtkWidget* entry = nullptr;  // the edit field of an edit or combo box
    bool destroyed = false;      // its window is gone: answer from the copies
    int quiet = 0;               // > 0 while we change the widget ourselves: no notifications

    // Dialogs.
    GtkWidget* fixed = nullptr;
    GtkGesture* rightClick = nullptr;
    GtkWidget* popup = nullptr;  // the context menu while it is up
    bool alive = false;          // created and not destroyed; UI thread only
    HDC__ paint;                 // the context of a draw routed through WM_PAINT
};

namespace gtk {

// Timers and hand-overs of a window that is going (handover.cpp).
void ArmTimer(CWnd* window, UINT_PTR id, UINT period);
bool DisarmTimer(CWnd* window, UINT_PTR id);
void WindowCreated(CWnd* window);
void ForgetWindow(CWnd* window);  // drops its timers and refuses hand-overs to it
bool IsLive(const CWnd* window);  // created and neither destroyed nor deleted
// A window thread's hand-over queue, from its start to its end
// (window_thread.cpp); the thread's main context must be its default.
void UseThreadHandOvers();
void EndThreadHandOvers();

// Icons (icon.cpp): drawn once per resource id, kept for the process.
HICON IconForResource(UINT id);

// Controls (controls.cpp). A notification or command to a dialog, as
// WM_COMMAND.
void SendCommand(CWnd* dialog, int id, UINT code);
// The widget of a control, set up as its template says; held by the
// control.
GtkWidget* MakeControl(const ControlTemplate& ct, CWnd* control, const BaseUnits& u);
// Carries out a control message (CB_*, PBM_*) on a control.
LRESULT ControlMessage(CWnd& control, UINT message, WPARAM wParam, LPARAM lParam);

// The system menu (system_menu.cpp). Opens a dialog's context menu, which
// holds the items appended to its system menu: at the pointer when a mouse
// button opened it, else at the window's top-left corner. Returns the menu,
// or null when the dialog has no system menu or is disabled.
GtkMenu* PopUpSystemMenu(CWnd& dialog, const GdkEvent* trigger);

// Modal windows (dialog.cpp): shows the observer a modal window that has
// just been shown.
void NoteModalShown(CWnd* dialog, GtkWindow* window);
// The window a modal window belongs to: its parent when it has one, else
// the application's main window, when it is up and is not `self`.
CWnd* DefaultOwner(CWnd* parent, const CWnd* self);

// The owner of a modal window while it is up: disabled (when it was alive
// and enabled) from construction to destruction. Disabling a GTK window
// drops its keyboard focus; destruction gives the focus back to the control
// that had it, as Windows' dialog manager does when the owner is active
// again, so that Tab goes on from there.
class ModalOwner {
  public:
    explicit ModalOwner(CWnd* owner);
    ~ModalOwner();
    ModalOwner(const ModalOwner&) = delete;
    ModalOwner& operator=(const ModalOwner&) = delete;

  private:
    CWnd* m_owner = nullptr;       // set when we disabled it
    GtkWidget* m_focus = nullptr;  // weak: cleared should the control go
};

// The style class of windows in a template's font (fonts.cpp). The first
// call for a font sets up its style and its alias.
std::string StyleClassFor(const char* face, int pointSize);

}  // namespace gtk
