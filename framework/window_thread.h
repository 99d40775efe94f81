// A thread of its own for windows nobody sees: each fixture position of a
// station runs its hidden dialog on one, so that a port whose write is held
// for seconds holds only that position, never the thread that draws the
// window and serves the other positions.
//
// Principles of operation
// -----------------------
// A CWindowThread starts a thread that runs a message loop of its own. Work
// is given to it with Post() from any thread and runs on it in the order
// posted. A dialog created (Create(FALSE)) by work running on the thread
// belongs to the thread: its timers fire there and the hand-overs of its
// ports' workers are handled there, exactly as on the user-interface
// thread. Such a dialog is never shown, and it must be destroyed by work
// on the same thread. On GTK and Win32 it has no widgets or windows at
// all: its controls keep what they show themselves
// (framework/window_data.h).
//
// Ending: Quit() lets the work already posted run and ends the loop; no
// later work runs. Join() waits, bounded, for the thread to end. A thread
// that has not ended in time (its work is stuck in a call that does not
// return) is left to itself: what it uses is kept for the life of the
// process, so it can never touch anything that has gone. The destructor
// quits and joins with kWindowThreadEndMs.
//
// Backends. Win32 runs a message loop of the thread's own that also serves
// its dialogs' timers and hand-overs; GTK a GLib main context of the
// thread's own; the headless backend a clock of the thread's own in real
// time (download-cli). On the headless backend's virtual clock (tests),
// work runs on the user-interface thread instead, in the order posted, so
// that a test stays the same every time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

struct WindowThreadState;  // defined by the backend

inline constexpr std::uint64_t kWindowThreadEndMs = 5000;

class CWindowThread {
  public:
    CWindowThread();
    ~CWindowThread();  // Quit(), then Join(kWindowThreadEndMs)
    CWindowThread(const CWindowThread&) = delete;
    CWindowThread& operator=(const CWindowThread&) = delete;

    // Runs fn on the thread after the work posted before it. Any thread.
    // Work posted after Quit() is dropped.
    void Post(std::function<void()> fn);
    // Ends the loop once the work posted so far has run. Any thread.
    void Quit();
    // Waits for the thread to end, no longer than ms. True when it has;
    // false leaves it to itself (see above). Not from the thread itself.
    bool Join(std::uint64_t ms);

  private:
    std::shared_ptr<WindowThreadState> m_state;
};

// Whether the calling thread is a window thread's (false on the
// user-interface thread, and for work that runs there on the headless
// backend's virtual clock).
bool AfxOnWindowThread();
