// Hand-overs of the Win32 backend: the framework's queue
// (framework/handover_queue.h), one for each thread that owns windows. A
// worker queues its message under the queue's lock, wakes the window's
// thread and waits; the window's thread runs the handler and wakes the
// worker. A message still waiting is taken back when the worker's port is
// closed (Revoke) or its window goes, so a closing thread never has to
// serve its worker first, and a worker never waits on a window that is
// gone.
//
// Waking the thread. The user-interface thread is woken by a message
// posted to a message-only window of its own, whose handler runs every
// message waiting. Every message loop dispatches it, ours and the
// platform's alike (a modal dialog's, a message box's, a file dialog's),
// and a posted message is retrieved before WM_TIMER, so a hand-over waiting
// when a timer falls due is handled first, as on the other backends. A
// window thread is woken by an event its loop waits on
// (window_thread.cpp).
//
// A window thread's queue is taken from the spares when the thread starts
// and given back when it ends. A worker left running by a port that would
// not close may still hold it, so none is ever freed: its sends are
// refused, its windows being gone.
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "framework/handover_queue.h"
#include "framework/win32/window_impl.h"

namespace win32 {
namespace {

constexpr UINT kHandOversWaiting = WM_APP + 0x48;
constexpr wchar_t kNotifierClass[] = L"DownloadTool.HandOvers";

LRESULT CALLBACK NotifierProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The hand-over queue's loop on Win32: a lock of its own, the windows
// alive, and what wakes the thread that owns them.
class HandOvers final : public HandOverLoop {
  public:
    HandOvers() : m_event(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    HandOvers(const HandOvers&) = delete;
    HandOvers& operator=(const HandOvers&) = delete;

    std::mutex& Lock() override { return m_lock; }
    bool Accepts(const CWnd* target) const override { return alive.contains(target); }
    void Wake() override {
        ::SetEvent(m_event);
        HWND notifier = m_notifier.load();
        // One message waiting for the loop is enough to wake it.
        if (notifier != nullptr && !m_posted.exchange(true) &&
            !::PostMessageW(notifier, kHandOversWaiting, 0, 0)) {
            m_posted = false;
        }
    }

    // The user-interface thread's loops are woken through a message-only
    // window of the thread's own, made with its first window.
    void NotifyThroughWindow() {
        if (m_notifier.load() != nullptr) {
            return;
        }
        WNDCLASSW wc{};
        wc.lpfnWndProc = &NotifierProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kNotifierClass;
        ::RegisterClassW(&wc);
        HWND notifier = ::CreateWindowExW(0, kNotifierClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr);
        if (notifier != nullptr) {
            ::SetWindowLongPtrW(notifier, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            m_notifier = notifier;
        }
    }

    HANDLE Event() const { return m_event; }

    // Runs the handler of every message waiting, in the order sent.
    void HandleWaiting() {
        m_posted = false;  // first: a message queued meanwhile posts again
        while (queue.HandleOne()) {
        }
    }

    std::set<const CWnd*> alive;  // guarded by Lock()
    HandOverQueue queue{*this};

  private:
    std::mutex m_lock;
    HANDLE m_event;  // auto-reset: set by each Wake
    std::atomic<HWND> m_notifier{nullptr};
    std::atomic<bool> m_posted{false};
};

LRESULT CALLBACK NotifierProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHandOversWaiting) {
        if (auto* h = reinterpret_cast<HandOvers*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
            h->HandleWaiting();
        }
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// The hand-overs of a window thread while it runs; else null, and the
// user-interface thread's serve.
thread_local HandOvers* t_threadHandOvers = nullptr;

HandOvers& TheHandOvers() {
    if (t_threadHandOvers != nullptr) {
        return *t_threadHandOvers;
    }
    // Never destroyed, as the spares are not: a worker may outlive main.
    static HandOvers* handOvers = new HandOvers;
    return *handOvers;
}

// Hand-over queues of window threads that have ended, for the next ones.
// The list itself is never destroyed either, so it keeps them reachable.
struct Spares {
    std::mutex lock;
    std::vector<std::unique_ptr<HandOvers>> free;
};

Spares& TheSpares() {
    static Spares* spares = new Spares;
    return *spares;
}

}  // namespace

HANDLE UseThreadHandOvers() {
    Spares& spares = TheSpares();
    std::lock_guard<std::mutex> g(spares.lock);
    if (spares.free.empty()) {
        spares.free.push_back(std::make_unique<HandOvers>());
    }
    t_threadHandOvers = spares.free.back().release();
    spares.free.pop_back();
    return t_threadHandOvers->Event();
}

void HandleThreadHandOvers() {
    TheHandOvers().HandleWaiting();
}

void EndThreadHandOvers() {
    Spares& spares = TheSpares();
    std::lock_guard<std::mutex> g(spares.lock);
    spares.free.emplace_back(t_threadHandOvers);
    t_threadHandOvers = nullptr;
}

void WindowCreated(CWnd* window) {
    HandOvers& h = TheHandOvers();
    if (t_threadHandOvers == nullptr) {
        h.NotifyThroughWindow();
    }
    std::lock_guard<std::mutex> g(h.Lock());
    h.alive.insert(window);
}

void ForgetWindow(CWnd* window) {
    ForgetThreadTimers(window);
    HandOvers& h = TheHandOvers();
    {
        std::lock_guard<std::mutex> g(h.Lock());
        if (h.alive.erase(window) == 0) {
            return;  // never created, or forgotten already
        }
    }
    // Hand-overs aimed at a window that is going are refused.
    h.queue.ForgetWindow(window);
}

}  // namespace win32

HandOverQueue& TheHandOverQueue() {
    return win32::TheHandOvers().queue;
}
