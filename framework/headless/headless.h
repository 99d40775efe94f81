// The headless backend of the dialog framework: windows without a display,
// on a virtual clock that the caller advances.
//
// Principles of operation
// -----------------------
// Nothing happens by itself. Timers, scheduled callbacks (the in-memory
// serial line delivers bytes this way) and hand-overs from worker threads
// are run only inside Advance() and RunUntilIdle(), on the calling thread,
// which is the user-interface thread.
//
// Worker threads are real. Before each step the clock waits until every
// worker is blocked (waiting for bytes, or waiting in a hand-over) so that a
// run is the same every time: after Advance() returns, every worker has
// done all it can with what it has been given.
//
// Each control records what it shows; tests read it back through the
// ordinary CWnd calls (GetDlgItemText, IsWindowEnabled, CB_GETCURSEL, ...).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/afxdlgs.h"
#include "framework/afxwin.h"
#include "framework/waiter.h"

namespace headless {

// --- The virtual clock. -----------------------------------------------------

std::uint64_t Now();  // milliseconds since the process started
// Runs everything that falls due up to Now() + ms, in time order, with the
// clock set to each event's time; then sets the clock to Now() + ms.
void Advance(std::uint64_t ms);
// Lets every worker run and handles waiting hand-overs, until nothing is
// left to do at this instant. The clock does not move.
void RunUntilIdle();
// Waits until every worker is blocked. Handles nothing.
void SettleWorkers();
// Runs fn on the user-interface thread delayMs from now.
void At(std::uint64_t delayMs, std::function<void()> fn);
// Time of the next pending timer or callback, if any.
std::optional<std::uint64_t> NextEventTime();
// For a program that runs the clock in real time (the command-line tool):
// waits until a worker hands something over, or ms have passed. True when
// a hand-over is waiting.
bool WaitForWork(std::uint64_t ms);
// Runs the clock along with real time until done() holds or limitMs of real
// time have passed; hand-overs are handled as soon as they come. Returns
// done().
bool RunInRealTime(const std::function<bool()>& done, std::uint64_t limitMs);
// Forgets every pending timer and callback, and sets the clock to 0. For
// test fixtures; no window may be alive.
void Reset();

// From now on the process runs in real time (download-cli, at its start):
// the clock reads the real time passed, even inside a call that holds the
// thread, and window threads (framework/window_thread.h) are real threads,
// each with a clock of its own in real time. Until then their work runs on
// this clock, on the user-interface thread. Call before any window thread
// is made.
void UseRealTime();
bool InRealTime();

// For window_thread.cpp: a window thread's own clock, made for it and kept
// for the life of the process; the calling thread's clock from now on;
// wakes a clock's WaitForWork from any thread; and takes back such a wake.
struct ThreadClock;
ThreadClock* MakeThreadClock();
void UseThreadClock(ThreadClock* clock);
void PokeThreadClock(ThreadClock* clock);
bool TakePoke();

// --- Acting as the user. ----------------------------------------------------

// Clicks a push button. False, and nothing happens, when it is disabled or
// hidden.
bool Click(CWnd& dialog, int id);
// Picks a combo box entry as a user would, sending CBN_SELCHANGE. False when
// the box is disabled.
bool SelectComboItem(CWnd& dialog, int id, int index);
// Types into a combo box's edit field (CBN_EDITCHANGE; the selection stays).
bool TypeComboText(CWnd& dialog, int id, const std::string& text);
// Chooses a system-menu command, as WM_SYSCOMMAND.
void SystemCommand(CWnd& dialog, UINT nID);
// Minimizes or restores a window; restored windows are not iconic.
void SetIconic(CWnd& window, bool iconic);

// How the next modal dialogs end. Each DoModal takes the oldest script; the
// script may advance the clock (timers and hand-overs go on meanwhile) and
// returns the dialog's result. With no script a modal dialog ends at once
// with IDCANCEL.
void ScriptModal(std::function<INT_PTR(CDialog&)> script);
// How the next file dialogs end: a path means OK with that file, nullopt
// means Cancel. The script sees the dialog, filter and initial name
// included. With no script a file dialog is cancelled.
void ScriptFileDialog(std::function<std::optional<std::string>(const CFileDialog&)> script);

// How the next message boxes are answered: each takes the oldest script,
// which sees the text and returns IDYES or IDNO (a box with only OK ends
// with OK whatever it returns). With no script a yes/no box is answered No.
void ScriptMessageBox(std::function<int(const std::string&)> script);

// --- What the user saw. -----------------------------------------------------

std::vector<std::string> MessageBoxes();  // texts of every message box so far
void ClearMessageBoxes();
std::vector<UINT> ModalTemplatesShown();  // template ids of modal dialogs run
struct IconDraw {
    int x, y;
    HICON icon;
};
std::optional<IconDraw> LastIconDrawn();
bool IconBackgroundErased();  // WM_ICONERASEBKGND was sent while painting
// The control id of dialog is an edit field that shows a mark for each
// character rather than the text (a password field).
bool IsMasked(CWnd& dialog, int id);
// Called after any control of any window changes what it shows.
void OnControlChanged(std::function<void(CWnd& dialog, int id)> observer);

// --- For backends built on this clock (the in-memory serial line). --------

// The one lock that guards the clock, the hand-overs and the in-memory
// serial line.
std::mutex& Lock();

// A place where one worker blocks (framework/waiter.h), on this clock.
// Wait() and Wake() are called with Lock() held. A blocked worker is not
// running, so the clock may move on; Wake() counts it as running again
// before it is scheduled, so the clock waits for it.
class Waiter : public ::Waiter {
  public:
    Waiter();
};

// A worker thread is about to be started (call before starting it), and a
// worker has finished (call as its last step, without Lock() held).
void NoteWorkerStarting();
void NoteWorkerFinished();

}  // namespace headless
