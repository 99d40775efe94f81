// The virtual clock of the headless backend: timers, scheduled callbacks,
// hand-overs from worker threads, and the wait for workers to settle.
#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <tuple>

#include "framework/handover.h"
#include "framework/headless/headless.h"
#include "framework/headless/window_impl.h"

namespace headless {
namespace {

struct Event {
    CWnd* window = nullptr;  // a timer when set
    UINT_PTR timerId = 0;
    UINT period = 0;
    std::function<void()> callback;
};

struct PendingSend {
    HandOverState* sender;
    CWnd* target;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Clock {
    std::mutex lock;
    std::condition_variable settled;
    std::condition_variable work;  // a hand-over was queued
    int runningWorkers = 0;
    std::uint64_t now = 0;
    std::uint64_t seq = 0;
    std::map<std::pair<std::uint64_t, std::uint64_t>, Event> events;  // (due, seq)
    std::deque<PendingSend> sends;
};

Clock& TheClock() {
    static Clock clock;
    return clock;
}

}  // namespace
}  // namespace headless

// The state behind one CHandOver, guarded by the clock's lock.
struct HandOverState {
    headless::Waiter waiter;
    bool revoked = false;
    bool queued = false;   // waiting for the window's thread
    bool handled = false;  // the window has handled it
    bool dropped = false;  // taken off the queue unhandled
    // Neither handled nor dropped: queued, or in the window's hands. The
    // sender waits for one of the two; "no longer queued" alone would let
    // it go, and free the message, while the window still reads it.
};

namespace headless {

std::mutex& Lock() {
    return TheClock().lock;
}

void Waiter::NoteBlocked() {
    Clock& c = TheClock();
    --c.runningWorkers;
    c.settled.notify_all();
}

void Waiter::NoteRunning() {
    ++TheClock().runningWorkers;
}

void Waiter::Wake() {
    if (m_blocked) {
        m_blocked = false;
        NoteRunning();
    }
    m_cv.notify_all();
}

void NoteWorkerStarting() {
    std::lock_guard<std::mutex> g(Lock());
    ++TheClock().runningWorkers;
}

void NoteWorkerFinished() {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    --c.runningWorkers;
    c.settled.notify_all();
}

std::uint64_t Now() {
    std::lock_guard<std::mutex> g(Lock());
    return TheClock().now;
}

void SettleWorkers() {
    std::unique_lock<std::mutex> g(Lock());
    TheClock().settled.wait(g, [] { return TheClock().runningWorkers <= 0; });
}

namespace {

// Handles one waiting hand-over, if any. Called without the lock.
bool HandleOneSend() {
    PendingSend send;
    {
        std::lock_guard<std::mutex> g(Lock());
        Clock& c = TheClock();
        if (c.sends.empty()) {
            return false;
        }
        send = c.sends.front();
        c.sends.pop_front();
        send.sender->queued = false;
    }
    send.target->SendMessage(send.message, send.wParam, send.lParam);
    {
        std::lock_guard<std::mutex> g(Lock());
        send.sender->handled = true;
        send.sender->waiter.Wake();
    }
    return true;
}

// Runs the earliest event if it is due by `limit`. Called without the lock.
bool RunOneEvent(std::uint64_t limit) {
    Event event;
    {
        std::lock_guard<std::mutex> g(Lock());
        Clock& c = TheClock();
        if (c.events.empty() || c.events.begin()->first.first > limit) {
            return false;
        }
        auto it = c.events.begin();
        c.now = it->first.first;
        event = it->second;
        c.events.erase(it);
        if (event.window) {
            // Platform timers repeat until killed.
            c.events[{c.now + std::max<UINT>(event.period, 1), c.seq++}] = event;
        }
    }
    if (event.window) {
        event.window->SendMessage(WM_TIMER, event.timerId, 0);
    } else if (event.callback) {
        event.callback();
    }
    return true;
}

}  // namespace

void RunUntilIdle() {
    for (;;) {
        SettleWorkers();
        if (!HandleOneSend()) {
            return;
        }
    }
}

void Advance(std::uint64_t ms) {
    const std::uint64_t limit = Now() + ms;
    for (;;) {
        RunUntilIdle();
        if (!RunOneEvent(limit)) {
            break;
        }
    }
    RunUntilIdle();
    std::lock_guard<std::mutex> g(Lock());
    TheClock().now = limit;
}

void At(std::uint64_t delayMs, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    c.events[{c.now + delayMs, c.seq++}] = Event{nullptr, 0, 0, std::move(fn)};
}

std::optional<std::uint64_t> NextEventTime() {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    if (c.events.empty()) {
        return std::nullopt;
    }
    return c.events.begin()->first.first;
}

bool WaitForWork(std::uint64_t ms) {
    std::unique_lock<std::mutex> g(Lock());
    Clock& c = TheClock();
    return c.work.wait_for(g, std::chrono::milliseconds(ms), [&] { return !c.sends.empty(); });
}

bool RunInRealTime(const std::function<bool()>& done, std::uint64_t limitMs) {
    using RealClock = std::chrono::steady_clock;
    const auto start = RealClock::now();
    const std::uint64_t virtualStart = Now();
    for (;;) {
        const auto elapsed = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - start)
                .count());
        const std::uint64_t target = virtualStart + elapsed;
        Advance(target > Now() ? target - Now() : 0);
        if (done()) {
            return true;
        }
        if (elapsed >= limitMs) {
            return false;
        }
        // Sleep until the next timer is due, but wake at once for a hand-over.
        std::uint64_t wait = 50;
        if (const auto next = NextEventTime()) {
            wait = *next > Now() ? std::min<std::uint64_t>(*next - Now(), wait) : 0;
        }
        if (wait > 0) {
            WaitForWork(wait);
        }
    }
}

void Reset() {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    c.events.clear();
    c.now = 0;
}

// --- Timers, for the window code. --------------------------------------------

void ArmTimer(CWnd* window, UINT_PTR id, UINT period) {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    std::erase_if(c.events, [&](const auto& e) {
        return e.second.window == window && e.second.timerId == id;
    });
    c.events[{c.now + period, c.seq++}] = Event{window, id, period, {}};
}

bool DisarmTimer(CWnd* window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(Lock());
    return std::erase_if(TheClock().events, [&](const auto& e) {
               return e.second.window == window && e.second.timerId == id;
           }) > 0;
}

void ForgetWindow(CWnd* window) {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    std::erase_if(c.events, [&](const auto& e) { return e.second.window == window; });
    // Hand-overs aimed at a window that is going are refused.
    for (auto it = c.sends.begin(); it != c.sends.end();) {
        if (it->target == window) {
            it->sender->queued = false;
            it->sender->dropped = true;
            it->sender->revoked = true;
            it->sender->waiter.Wake();
            it = c.sends.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace headless

// --- CHandOver ------------------------------------------------------------------

CHandOver::CHandOver() : m_state(std::make_unique<HandOverState>()) {}
CHandOver::~CHandOver() = default;

bool CHandOver::Send(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam) {
    std::unique_lock<std::mutex> g(headless::Lock());
    HandOverState& s = *m_state;
    if (s.revoked || target == nullptr || !target->Impl()->alive) {
        return false;
    }
    s.handled = false;
    s.dropped = false;
    s.queued = true;
    headless::TheClock().sends.push_back({&s, target, message, wParam, lParam});
    // Woken with the lock still held, the window's thread would only block
    // on it again.
    g.unlock();
    headless::TheClock().work.notify_all();
    g.lock();
    s.waiter.Wait(g, [&] { return s.handled || s.dropped; });
    return s.handled;
}

void CHandOver::Revoke() {
    std::lock_guard<std::mutex> g(headless::Lock());
    HandOverState& s = *m_state;
    s.revoked = true;
    if (s.queued) {
        auto& sends = headless::TheClock().sends;
        std::erase_if(sends, [&](const auto& p) { return p.sender == &s; });
        s.queued = false;
        s.dropped = true;
        s.waiter.Wake();
    }
}

bool CHandOver::Revoked() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    return m_state->revoked;
}
