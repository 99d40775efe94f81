// Timers and hand-overs of the GTK backend.
//
// Timers are GLib timeouts on the default main context, one per (window,
// id). A hand-over is queued (framework/handover_queue.h) under a mutex by
// the worker, which then wakes the main context through an eventfd and
// waits on a condition variable; the user-interface thread runs the handler
// of every waiting message when the eventfd becomes readable. The worker
// thread never calls into GLib, so the only thing the two threads share is
// guarded by that mutex.
//
// Hand-overs come before timers: a timer that falls due with a hand-over
// waiting runs after it, as a message sent from another thread is handled
// before WM_TIMER on Windows. So the eventfd is watched at a priority
// above the timers'.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <glib-unix.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "framework/gtk/window_impl.h"
#include "framework/handover_queue.h"

namespace gtk {
namespace {

// --- Timers (user-interface thread only). ------------------------------------------

constexpr gint kTimerPriority = G_PRIORITY_DEFAULT;
constexpr gint kHandOverPriority = kTimerPriority - 1;  // lower numbers go first

using TimerKey = std::pair<CWnd*, UINT_PTR>;

std::map<TimerKey, guint>& Timers() {
    static std::map<TimerKey, guint> timers;
    return timers;
}

gboolean TimerFired(gpointer data) {
    const TimerKey key = *static_cast<TimerKey*>(data);
    const guint self = g_source_get_id(g_main_current_source());
    auto& timers = Timers();
    auto it = timers.find(key);
    if (it == timers.end() || it->second != self) {
        return G_SOURCE_REMOVE;  // killed or replaced meanwhile
    }
    key.first->SendMessage(WM_TIMER, key.second, 0);
    // The handler may have killed or re-armed it, or destroyed the window.
    it = timers.find(key);
    return it != timers.end() && it->second == self ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void DeleteTimerKey(gpointer data) {
    delete static_cast<TimerKey*>(data);
}

// --- Hand-overs. ---------------------------------------------------------------------

// The hand-over queue's loop on GTK: a lock of its own, the windows alive,
// and an eventfd that wakes the main context.
class HandOvers final : public HandOverLoop {
  public:
    HandOvers() : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~HandOvers() {
        if (m_source != 0) {
            g_source_remove(m_source);
        }
        close(m_wakeFd);
    }

    std::mutex& Lock() override { return m_lock; }
    bool Accepts(const CWnd* target) const override { return alive.contains(target); }
    void Wake() override {
        const std::uint64_t one = 1;
        // A full counter already means "wake up"; nothing to do then.
        [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
    }

    // The main context starts watching the eventfd; on the user-interface
    // thread, with the first window.
    void Watch() {
        if (m_source == 0) {
            m_source = g_unix_fd_add_full(kHandOverPriority, m_wakeFd, G_IO_IN,
                                          &HandOvers::Readable, this, nullptr);
        }
    }

    std::set<const CWnd*> alive;  // guarded by Lock()
    HandOverQueue queue{*this};

  private:
    // Runs the handler of every message waiting, in the order sent.
    static gboolean Readable(gint fd, GIOCondition, gpointer self) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
        while (static_cast<HandOvers*>(self)->queue.HandleOne()) {
        }
        return G_SOURCE_CONTINUE;
    }

    std::mutex m_lock;
    int m_wakeFd = -1;
    guint m_source = 0;
};

HandOvers& TheHandOvers() {
    static HandOvers handOvers;
    return handOvers;
}

}  // namespace

void ArmTimer(CWnd* window, UINT_PTR id, UINT period) {
    DisarmTimer(window, id);
    const guint source = g_timeout_add_full(kTimerPriority, period, &TimerFired,
                                            new TimerKey(window, id), &DeleteTimerKey);
    Timers()[{window, id}] = source;
}

bool DisarmTimer(CWnd* window, UINT_PTR id) {
    auto& timers = Timers();
    auto it = timers.find({window, id});
    if (it == timers.end()) {
        return false;
    }
    g_source_remove(it->second);
    timers.erase(it);
    return true;
}

void WindowCreated(CWnd* window) {
    HandOvers& h = TheHandOvers();
    h.Watch();
    std::lock_guard<std::mutex> g(h.Lock());
    h.alive.insert(window);
}

bool IsLive(const CWnd* window) {
    HandOvers& h = TheHandOvers();
    std::lock_guard<std::mutex> g(h.Lock());
    return h.alive.contains(window);
}

void ForgetWindow(CWnd* window) {
    auto& timers = Timers();
    for (auto it = timers.begin(); it != timers.end();) {
        if (it->first.first == window) {
            g_source_remove(it->second);
            it = timers.erase(it);
        } else {
            ++it;
        }
    }
    HandOvers& h = TheHandOvers();
    {
        std::lock_guard<std::mutex> g(h.Lock());
        h.alive.erase(window);
    }
    // Hand-overs aimed at a window that is going are refused.
    h.queue.ForgetWindow(window);
}

}  // namespace gtk

HandOverQueue& TheHandOverQueue() {
    return gtk::TheHandOvers().queue;
}
