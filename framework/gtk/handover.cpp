// Timers and hand-overs of the GTK backend.
//
// Timers are GLib timeouts on the window's thread's main context (the
// default one, or a window thread's own: framework/window_thread.h), one
// per (window, id). A hand-over is queued (framework/handover_queue.h)
// under a mutex by the worker, which then wakes the window's thread through
// an eventfd and waits on a condition variable; the window's thread runs the
// handler of every waiting message when the eventfd becomes readable. The
// worker thread never calls into GLib, so the only thing the two threads
// share is guarded by that mutex.
//
// Each thread that owns windows has its own timers and its own hand-over
// queue: a window is created, served and destroyed on one thread.
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
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "framework/gtk/window_impl.h"
#include "framework/handover_queue.h"

namespace gtk {
namespace {

// --- Timers (user-interface thread only). ------------------------------------------

constexpr gint kTimerPriority = G_PRIORITY_DEFAULT;
constexpr gint kHandOverPriority = kTimerPriority - 1;  // lower numbers go first

using TimerKey = std::pair<CWnd*, UINT_PTR>;

// The timers of the windows of this thread; each source holds a reference
// of ours.
std::map<TimerKey, GSource*>& Timers() {
    thread_local std::map<TimerKey, GSource*> timers;
    return timers;
}

void DropSource(GSource* source) {
    g_source_destroy(source);
    g_source_unref(source);
}

gboolean TimerFired(gpointer data) {
    const TimerKey key = *static_cast<TimerKey*>(data);
    GSource* self = g_main_current_source();
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
        if (m_source != nullptr) {
            DropSource(m_source);
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

    // The thread's main context starts watching the eventfd, with the
    // thread's first window.
    void Watch() {
        GMainContext* context = g_main_context_get_thread_default();
        if (m_source != nullptr && m_context == context) {
            return;
        }
        if (m_source != nullptr) {
            DropSource(m_source);  // a window thread's that has ended
        }
        m_context = context;
        m_source = g_unix_fd_source_new(m_wakeFd, G_IO_IN);
        g_source_set_priority(m_source, kHandOverPriority);
        // GLib's own way to give a unix-fd source its callback type.
        g_source_set_callback(m_source, G_SOURCE_FUNC(&HandOvers::Readable), this, nullptr);
        g_source_attach(m_source, context);
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
    GSource* m_source = nullptr;
    GMainContext* m_context = nullptr;
};

// The hand-overs of a window thread while it runs; else null, and the
// main thread's serve.
thread_local HandOvers* t_threadHandOvers = nullptr;

HandOvers& TheHandOvers() {
    if (t_threadHandOvers != nullptr) {
        return *t_threadHandOvers;
    }
    static HandOvers handOvers;
    return handOvers;
}

// Hand-over queues of window threads that have ended, for the next ones: a
// worker left running by a port that would not close may still hold one,
// so none is ever freed (its sends are refused: its windows are gone). The
// list itself is never destroyed either, so it keeps them reachable.
struct Spares {
    std::mutex lock;
    std::vector<std::unique_ptr<HandOvers>> free;
};

Spares& TheSpares() {
    static Spares* spares = new Spares;
    return *spares;
}

}  // namespace

void UseThreadHandOvers() {
    Spares& spares = TheSpares();
    std::lock_guard<std::mutex> g(spares.lock);
    if (spares.free.empty()) {
        spares.free.push_back(std::make_unique<HandOvers>());
    }
    t_threadHandOvers = spares.free.back().release();
    spares.free.pop_back();
}

void EndThreadHandOvers() {
    Spares& spares = TheSpares();
    std::lock_guard<std::mutex> g(spares.lock);
    spares.free.emplace_back(t_threadHandOvers);
    t_threadHandOvers = nullptr;
}

void ArmTimer(CWnd* window, UINT_PTR id, UINT period) {
    DisarmTimer(window, id);
    GSource* source = g_timeout_source_new(period);
    g_source_set_priority(source, kTimerPriority);
    g_source_set_callback(source, &TimerFired, new TimerKey(window, id), &DeleteTimerKey);
    g_source_attach(source, g_main_context_get_thread_default());
    Timers()[{window, id}] = source;
}

bool DisarmTimer(CWnd* window, UINT_PTR id) {
    auto& timers = Timers();
    auto it = timers.find({window, id});
    if (it == timers.end()) {
        return false;
    }
    DropSource(it->second);
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
            DropSource(it->second);
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
