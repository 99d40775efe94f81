// The hand-over's queue: the one state machine behind CHandOver
// (framework/handover.h), on every backend: the window's thread runs the
// handlers itself.
//
// Principles of operation
// -----------------------
// Each CHandOver has one HandOverState. Send() puts the state on the queue
// and blocks on its waiter. The window's thread takes the oldest state off
// the queue, runs the handler without the lock, and marks it handled. A
// message leaves the queue in exactly one of two ways: handled by the
// window, or dropped unhandled (Revoke, or the target window going). The
// sender waits for one of the two; "no longer queued" alone is not enough,
// since the window may still be reading the message when it has been
// taken off the queue, and the sender frees it once it returns.
//
// Revoke() drops a waiting message and refuses every later Send(). A
// message the window has already taken is handled to the end; its sender
// sees it handled. Forgetting a window drops and refuses every hand-over
// aimed at it.
//
// The backend
// -----------
// A backend gives the queue a HandOverLoop: the lock that guards the
// queue (the headless backend's one lock of clock, hand-overs and
// in-memory serial line; a lock of its own on GTK and Win32), which
// windows take hand-overs, how to wake its user-interface loop when
// something is queued (the headless clock's condition variable; GTK's
// eventfd; on Win32 a message posted to a window of its own, or a window
// thread's event), and, optionally, a watcher told when a sender blocks
// and runs again (the headless clock). It defines TheHandOverQueue() and
// calls HandleOne() from its loop: once per step (headless) or until
// nothing waits (GTK, Win32).
#pragma once

#include <deque>
#include <mutex>

#include "framework/afxwin.h"
#include "framework/handover.h"
#include "framework/waiter.h"

// What the queue asks of its backend.
class HandOverLoop {
  public:
    // The lock that guards the queue and every HandOverState.
    virtual std::mutex& Lock() = 0;
    // Whether the window takes hand-overs now. Called with Lock() held.
    virtual bool Accepts(const CWnd* target) const = 0;
    // A message has been queued: the user-interface loop should look.
    // Called without Lock() held: a loop woken with it held would only
    // block on it again.
    virtual void Wake() = 0;
    // Told when a sender blocks and runs again; may be null.
    virtual WaitWatcher* Watcher() { return nullptr; }

  protected:
    ~HandOverLoop() = default;
};

// The state behind one CHandOver, guarded by the loop's lock.
class HandOverQueue;

struct HandOverState {
    // On the queue of the thread that makes it (TheHandOverQueue()): the
    // thread of the window the worker hands over to.
    HandOverState();

    HandOverQueue& queue;
    Waiter waiter;
    bool revoked = false;
    bool queued = false;   // waiting for the window's thread
    bool handled = false;  // the window has handled it
    bool dropped = false;  // taken off the queue unhandled
    CWnd* target = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class HandOverQueue {
  public:
    explicit HandOverQueue(HandOverLoop& loop) : m_loop(loop) {}
    HandOverQueue(const HandOverQueue&) = delete;
    HandOverQueue& operator=(const HandOverQueue&) = delete;

    // Worker thread: CHandOver's three calls.
    bool Send(HandOverState& s, CWnd* target, UINT message, WPARAM wParam, LPARAM lParam);
    void Revoke(HandOverState& s);
    bool Revoked(const HandOverState& s);

    // Window thread. Handles the oldest waiting message, if any; false when
    // none waits. Called without the lock.
    bool HandleOne();
    // Drops every message aimed at the window and refuses their senders.
    // Called without the lock; the backend has already stopped accepting
    // hand-overs for the window.
    void ForgetWindow(const CWnd* window);
    // Whether a message waits. Called with the lock held.
    bool AnyWaiting() const { return !m_waiting.empty(); }
    // The same from any thread, without the lock (it is taken here): for a
    // test that must know a sender's message is queued before it goes on.
    bool AnyWaitingNow() {
        std::lock_guard<std::mutex> g(m_loop.Lock());
        return AnyWaiting();
    }

    WaitWatcher* Watcher() { return m_loop.Watcher(); }

  private:
    void Drop(HandOverState& s);  // the lock held

    HandOverLoop& m_loop;
    std::deque<HandOverState*> m_waiting;
};

// The queue of the calling thread's windows (a window thread's own, or the
// user-interface thread's).
HandOverQueue& TheHandOverQueue();
