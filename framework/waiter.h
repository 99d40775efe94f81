// A place where one thread blocks until a condition holds, for the
// framework's backends: the sender of a hand-over waiting for the window,
// the headless serial line's reader waiting for bytes.
//
// The condition is guarded by a lock that the caller holds around Wait()
// and Wake(). A watcher, when given, is told each time the thread blocks
// and each time it runs again. The headless clock is such a watcher: it
// moves on only while every worker is blocked, so it must learn of a
// worker that is woken before that worker is scheduled (Wake() tells it),
// or the clock could move past something the worker was about to do.
#pragma once

#include <condition_variable>
#include <mutex>

// Told when a waiting thread blocks and when it runs again, with the
// waiter's lock held.
class WaitWatcher {
  public:
    virtual void Blocked() = 0;
    virtual void Running() = 0;

  protected:
    ~WaitWatcher() = default;
};

class Waiter {
  public:
    explicit Waiter(WaitWatcher* watcher = nullptr) : m_watcher(watcher) {}
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    template <class Pred>
    void Wait(std::unique_lock<std::mutex>& lock, Pred ready) {
        while (!ready()) {
            if (!m_blocked) {
                m_blocked = true;
                if (m_watcher) {
                    m_watcher->Blocked();
                }
            }
            m_cv.wait(lock);
        }
        if (m_blocked) {  // ready without a Wake(), e.g. seen after a spurious wake-up
            m_blocked = false;
            if (m_watcher) {
                m_watcher->Running();
            }
        }
    }

    // Counts the thread as running again before it is scheduled, then
    // wakes it.
    void Wake() {
        if (m_blocked) {
            m_blocked = false;
            if (m_watcher) {
                m_watcher->Running();
            }
        }
        m_cv.notify_all();
    }

  private:
    WaitWatcher* m_watcher;
    bool m_blocked = false;
    std::condition_variable m_cv;
};
