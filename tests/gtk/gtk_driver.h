// Driving the GTK windows from a test, as an operator would: through the
// widgets and GTK's own signal paths, on the real main loop.
//
// Principles of operation
// -----------------------
// The test runs on the user-interface thread. Nothing happens while it does
// not run the main loop: Pump and PumpUntil run it for a bounded time.
// Acting on a control (Click, ChooseComboItem, PressKey) runs the handler at
// once, and a handler that opens a modal window runs that window's loop
// before the call returns.
//
// Modal windows (CDialog::DoModal, the file chooser, the message box) are
// answered by handlers queued with OnNextModal: each modal window shown
// takes the oldest handler, which runs inside the window's modal loop. A
// handler that returns with its window still up has it cancelled; a modal
// window that finds no handler waiting is cancelled at once. Both are
// recorded in Mishaps(), so a test never hangs on a window nobody answers.
#pragma once

#include "framework/gtk/gtk_headers.h"

#include <functional>
#include <string>
#include <vector>

#include "framework/afxwin.h"

namespace gtkdrv {

// --- The main loop. -----------------------------------------------------------------

// Runs the main loop for ms of real time.
void Pump(int ms);
// Runs the main loop until pred() holds, at most timeoutMs of real time.
// Returns pred().
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs);

// --- Widgets. -------------------------------------------------------------------------

GtkWindow* WindowOf(const CWnd& dialog);
GtkWidget* ControlOf(const CWnd& dialog, int id);
// Waits until the window is on the screen and has been drawn.
bool WaitMapped(const CWnd& dialog, int timeoutMs = 5000);
// What a control shows, read from its widget: a label's, button's or group
// box's text, an edit field's contents.
std::string ShownText(const CWnd& dialog, int id);
// The texts of a combo box's list, read from its model.
std::vector<std::string> ComboItems(const CWnd& dialog, int id);

// --- Acting as the operator. ----------------------------------------------------------

// Clicks a push button (gtk_button_clicked). False, and nothing happens,
// when it is disabled or hidden.
bool Click(CWnd& dialog, int id);
// Drops a combo box's list down and chooses an entry. False when the box is
// disabled.
bool ChooseComboItem(CWnd& dialog, int id, int index);
// Replaces the text in a combo box's edit field as typing would. False when
// the box is disabled.
bool TypeComboText(CWnd& dialog, int id, const std::string& text);
// A key press and release on a window, delivered as GDK events; a toplevel
// window without the keyboard focus gets it first, as from the X server.
void PressKey(GtkWidget* toplevel, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
void PressKey(CWnd& dialog, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
// A right-click at (x, y) of the dialog. Returns the menu that opened, if
// one did and is showing.
GtkMenu* RightClick(CWnd& dialog, int x, int y);
// The labels of a menu's items, mnemonics included ("" for a separator).
std::vector<std::string> MenuLabels(GtkMenu* menu);
// Closes an open menu without choosing.
void DismissMenu(GtkMenu* menu);

// --- Modal windows. -------------------------------------------------------------------

// dialog is set for a CDialog, null for the file chooser and message box.
using ModalHandler = std::function<void(CWnd* dialog, GtkWindow* window)>;
void OnNextModal(ModalHandler handler);
std::size_t PendingModalHandlers();
// What went wrong with modal windows so far (see above); cleared by the call.
std::vector<std::string> Mishaps();

// Answers an open-file chooser: selects path and presses its Open button,
// as the operator would. False when the chooser did not take the file.
bool AnswerFileChooser(GtkWindow* chooser, const std::string& path);
// Makes a chooser return path whatever it is, even one the chooser itself
// would not return (a folder).
bool ForceFileChooserAnswer(GtkWindow* chooser, const std::string& path);
// Presses Cancel (or OK) in a platform dialog.
void RespondToDialog(GtkWindow* dialog, int response);
// The primary text of a message box.
std::string MessageBoxText(GtkWindow* box);

// --- Pictures. ------------------------------------------------------------------------

// Saves what the window shows on the screen as a PNG. False on failure.
bool SaveScreenshot(GtkWindow* window, const std::string& path);

}  // namespace gtkdrv
