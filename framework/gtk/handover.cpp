// Timers and hand-overs of the GTK backend.
//
// Timers are GLib timeouts on the default main context, one per (window,
// id). A hand-over is queued under a mutex by the worker, which then wakes
// the main context through an eventfd and waits on a condition variable;
// the user-interface thread runs the handler when the eventfd becomes
// readable. The worker thread never calls into GLib, so the only thing the
// two threads share is guarded by that mutex.
//
// Hand-overs come before timers: a timer that falls due with a hand-over
// waiting runs after it, as a message sent from another thread is handled
// before WM_TIMER on Windows. So the eventfd is watched at a priority
// above the timers'.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <glib-unix.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "framework/gtk/window_impl.h"
#include "framework/handover.h"

// The state behind one CHandOver, guarded by the bus's mutex.
struct HandOverState {
    enum class Phase { Idle, Queued, Running };
    std::condition_variable cv;
    Phase phase = Phase::Idle;
    bool revoked = false;
    bool handled = false;
    CWnd* target = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

namespace gtkfw {
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

class Bus {
  public:
    Bus() {
        m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_source =
            g_unix_fd_add_full(kHandOverPriority, m_wakeFd, G_IO_IN, &Bus::Readable, this, nullptr);
    }
    ~Bus() {
        g_source_remove(m_source);
        close(m_wakeFd);
    }

    std::mutex lock;
    std::deque<HandOverState*> queue;
    std::set<CWnd*> alive;

    void Wake() {
        const std::uint64_t one = 1;
        // A full counter already means "wake up"; nothing to do then.
        [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
    }

  private:
    static gboolean Readable(gint fd, GIOCondition, gpointer self) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
        static_cast<Bus*>(self)->Deliver();
        return G_SOURCE_CONTINUE;
    }

    // Runs the handler of every message waiting, in the order sent.
    void Deliver() {
        for (;;) {
            HandOverState* s = nullptr;
            {
                std::lock_guard<std::mutex> g(lock);
                if (queue.empty()) {
                    return;
                }
                s = queue.front();
                queue.pop_front();
                s->phase = HandOverState::Phase::Running;
            }
            // The sender stays blocked, so s, its target and its message
            // are ours until we let it go.
            s->target->SendMessage(s->message, s->wParam, s->lParam);
            // Notified under the lock: once the sender sees Idle it may
            // return, and its state may be freed with its worker.
            std::lock_guard<std::mutex> g(lock);
            s->handled = true;
            s->phase = HandOverState::Phase::Idle;
            s->cv.notify_all();
        }
    }

    int m_wakeFd = -1;
    guint m_source = 0;
};

Bus& TheBus() {
    static Bus bus;
    return bus;
}

// Takes a waiting message back; the caller holds the bus's lock.
void Withdraw(Bus& bus, HandOverState& s) {
    if (s.phase == HandOverState::Phase::Queued) {
        std::erase(bus.queue, &s);
        s.phase = HandOverState::Phase::Idle;
        s.cv.notify_all();
    }
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
    Bus& bus = TheBus();  // made here, on the user-interface thread
    std::lock_guard<std::mutex> g(bus.lock);
    bus.alive.insert(window);
}

bool IsLive(const CWnd* window) {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> g(bus.lock);
    return bus.alive.contains(const_cast<CWnd*>(window));
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
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> g(bus.lock);
    bus.alive.erase(window);
    // Hand-overs aimed at a window that is going are refused.
    for (HandOverState* s : std::deque<HandOverState*>(bus.queue)) {
        if (s->target == window) {
            s->revoked = true;
            Withdraw(bus, *s);
        }
    }
}

}  // namespace gtkfw

// --- CHandOver ----------------------------------------------------------------------

CHandOver::CHandOver() : m_state(std::make_unique<HandOverState>()) {}
CHandOver::~CHandOver() = default;

bool CHandOver::Send(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam) {
    gtkfw::Bus& bus = gtkfw::TheBus();
    HandOverState& s = *m_state;
    std::unique_lock<std::mutex> g(bus.lock);
    if (s.revoked || target == nullptr || !bus.alive.contains(target)) {
        return false;
    }
    s.target = target;
    s.message = message;
    s.wParam = wParam;
    s.lParam = lParam;
    s.handled = false;
    s.phase = HandOverState::Phase::Queued;
    bus.queue.push_back(&s);
    bus.Wake();
    s.cv.wait(g, [&] { return s.phase == HandOverState::Phase::Idle; });
    return s.handled;
}

void CHandOver::Revoke() {
    gtkfw::Bus& bus = gtkfw::TheBus();
    std::lock_guard<std::mutex> g(bus.lock);
    m_state->revoked = true;
    gtkfw::Withdraw(bus, *m_state);
}

bool CHandOver::Revoked() const {
    gtkfw::Bus& bus = gtkfw::TheBus();
    std::lock_guard<std::mutex> g(bus.lock);
    return m_state->revoked;
}
