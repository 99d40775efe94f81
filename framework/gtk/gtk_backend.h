// The GTK 3 backend of the dialog framework: what its front end
// (app/gtk/main.cpp) and the tests' driver (tests/gtk/gtk_driver.h) may ask
// of it beyond afxwin.h, and what the application supplies to it.
//
// Principles of operation
// -----------------------
// The thread that called gtk_init is the user-interface thread. Every
// window is a GtkWindow holding a GtkFixed, on which the controls sit where
// the dialog template puts them, converted from dialog units to pixels with
// the metrics of the template's font, as Windows converts them.
//
// Everything runs on GTK's default main context: the modal loops of
// CDialog::DoModal, of the file chooser and of the message box iterate it,
// so timers (GLib timeouts) and hand-overs from worker threads (an eventfd
// watched by the context) go on being handled under any modal window.
//
// Worker threads never call GLib or GTK. CHandOver::Send queues its message
// under a mutex and wakes the main context through the eventfd; the
// user-interface thread runs the handler and wakes the worker.
#pragma once

#include "framework/gtk/gtk_headers.h"

#include <functional>
#include <string>

#include "framework/afxwin.h"

namespace gtk {

// The GtkWindow of a dialog or the widget of a control; null for a window
// that has not been created. For a combo box, the GtkComboBoxText.
GtkWidget* WidgetOf(const CWnd& wnd);

// Called each time a modal window has been shown and its modal loop runs:
// a CDialog (dialog set), the file chooser or the message box (dialog
// null). One observer; an empty function removes it.
void SetModalObserver(std::function<void(CWnd* dialog, GtkWindow* window)> observer);

// The folder the next file chooser opens in. By default the current
// directory, then the folder of the file chosen last.
void SetFileDialogFolder(const std::string& folder);

// Ends every modal loop that runs, innermost first: dialogs as by Cancel,
// the file chooser and the message box as cancelled. For an orderly end
// on a signal.
void EndAllModalLoops();

// The dialog base units of a font, in pixels, as Windows defines them: the
// average width of the letters A-Z and a-z, and the font's height. A
// horizontal dialog unit is a quarter of the first, a vertical one an
// eighth of the second. X() and Y() turn dialog units into pixels, rounded
// as Windows' MulDiv rounds.
struct BaseUnits {
    int cx, cy;
    int X(int du) const;
    int Y(int du) const;
};
BaseUnits DialogBaseUnits(const char* fontFace, int pointSize);

// --- Supplied by the application. ---------------------------------------

// Draws an icon on a 32 x 32 grid; the context is scaled for other sizes.
using IconDrawing = void (*)(cairo_t* cr);
// The drawing of the icon with this resource id, or null when the
// application has no such icon: what Windows finds in the resource file
// (ui/gtk/icons.cpp).
IconDrawing FindIconDrawing(UINT nIDResource);

}  // namespace gtk
