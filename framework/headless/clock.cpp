// The virtual clock of the headless backend: timers, scheduled callbacks,
// hand-overs from worker threads, and the wait for workers to settle.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "framework/handover_queue.h"
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

// The clock is the hand-over queue's loop: its lock guards the queue, a
// queued message wakes WaitForWork, and a sender blocked in a hand-over is
// a worker that is not running.
struct Clock final : HandOverLoop, WaitWatcher {
    std::mutex& Lock() override { return lock; }
    bool Accepts(const CWnd* target) const override { return target->Impl()->alive; }
    void Wake() override { work.notify_all(); }
    WaitWatcher* Watcher() override { return this; }

    void Blocked() override {
        --runningWorkers;
        settled.notify_all();
    }
    void Running() override { ++runningWorkers; }

    std::mutex lock;
    std::condition_variable settled;
    std::condition_variable work;  // a hand-over was queued
    int runningWorkers = 0;
    std::uint64_t now = 0;
    std::uint64_t seq = 0;
    std::map<std::pair<std::uint64_t, std::uint64_t>, Event> events;  // (due, seq)
    HandOverQueue sends{*this};
    bool poked = false;  // work was posted to a window thread's loop

    // A clock in real time reads the time passed since it was made, even
    // while its thread is held in a call (a write the line holds back):
    // what a unit measures is real time.
    bool real = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    // The time now, with the lock held.
    std::uint64_t Current() const {
        if (!real) {
            return now;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return std::max(now, static_cast<std::uint64_t>(elapsed.count()));
    }
};

// A window thread's own clock (window_thread.cpp) while it runs; else null,
// and the process's one clock serves.
thread_local Clock* t_threadClock = nullptr;

Clock& TheClock() {
    if (t_threadClock != nullptr) {
        return *t_threadClock;
    }
    static Clock clock;
    return clock;
}

}  // namespace

// --- Clocks of window threads. ---------------------------------------------------------

// Kept for the life of the process: a port whose worker would not end keeps
// its hand-over, which points at its window thread's clock.
ThreadClock* MakeThreadClock() {
    static std::mutex lock;
    static std::vector<std::unique_ptr<Clock>> clocks;
    std::lock_guard<std::mutex> g(lock);
    clocks.push_back(std::make_unique<Clock>());
    clocks.back()->real = true;
    return reinterpret_cast<ThreadClock*>(clocks.back().get());
}

namespace {
std::atomic<bool> g_realTime{false};
}  // namespace

bool InRealTime() {
    return g_realTime;
}

void UseRealTime() {
    g_realTime = true;
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    c.start = std::chrono::steady_clock::now() - std::chrono::milliseconds(c.now);
    c.real = true;
}

void UseThreadClock(ThreadClock* clock) {
    t_threadClock = reinterpret_cast<Clock*>(clock);
}

void PokeThreadClock(ThreadClock* clock) {
    Clock& c = *reinterpret_cast<Clock*>(clock);
    {
        std::lock_guard<std::mutex> g(c.lock);
        c.poked = true;
    }
    c.work.notify_all();
}

bool TakePoke() {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    const bool poked = c.poked;
    c.poked = false;
    return poked;
}

std::mutex& Lock() {
    return TheClock().lock;
}

Waiter::Waiter() : ::Waiter(&TheClock()) {}

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
    return TheClock().Current();
}

void SettleWorkers() {
    std::unique_lock<std::mutex> g(Lock());
    TheClock().settled.wait(g, [] { return TheClock().runningWorkers <= 0; });
}

namespace {

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
        c.now = std::max(c.now, it->first.first);
        event = it->second;
        c.events.erase(it);
        if (event.window) {
            // Platform timers repeat until killed.
            c.events[{c.Current() + std::max<UINT>(event.period, 1), c.seq++}] = event;
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
        // One hand-over a step: the workers settle again after each.
        if (!TheClock().sends.HandleOne()) {
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
    Clock& c = TheClock();
    c.now = std::max(c.now, limit);
}

void At(std::uint64_t delayMs, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(Lock());
    Clock& c = TheClock();
    c.events[{c.Current() + delayMs, c.seq++}] = Event{nullptr, 0, 0, std::move(fn)};
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
    return c.work.wait_for(g, std::chrono::milliseconds(ms),
                           [&] { return c.sends.AnyWaiting() || c.poked; });
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
    c.events[{c.Current() + period, c.seq++}] = Event{window, id, period, {}};
}

bool DisarmTimer(CWnd* window, UINT_PTR id) {
    std::lock_guard<std::mutex> g(Lock());
    return std::erase_if(TheClock().events, [&](const auto& e) {
               return e.second.window == window && e.second.timerId == id;
           }) > 0;
}

void ForgetWindow(CWnd* window) {
    {
        std::lock_guard<std::mutex> g(Lock());
        std::erase_if(TheClock().events, [&](const auto& e) { return e.second.window == window; });
    }
    // Hand-overs aimed at a window that is going are refused.
    TheClock().sends.ForgetWindow(window);
}

}  // namespace headless

HandOverQueue& TheHandOverQueue() {
    return headless::TheClock().sends;
}
