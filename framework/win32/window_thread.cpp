// Window threads of the Win32 backend: a thread with a message loop of its
// own, which serves the hidden dialogs made on it. Those dialogs are drawn,
// without windows (window_impl.h says why), so the loop serves what a
// window's messages would bring: it waits for posted work, a hand-over,
// the next of its dialogs' timers or a message, whichever comes first, and
// then runs the work posted, the hand-overs waiting (before any timer, as
// a message sent from another thread comes before WM_TIMER), the timers
// due, and the messages queued.
#include "framework/win32/win32.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "framework/win32/window_impl.h"
#include "framework/window_thread.h"
#include "framework/window_thread_state.h"

struct WindowThreadState {
    ~WindowThreadState() { ::CloseHandle(wake); }

    WindowThreadWork work;
    HANDLE wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // work was posted
    std::thread thread;
};

namespace {

// The timers of a window thread's dialogs, as the platform keeps a
// window's: periodic from the moment each fires, no shorter than
// USER_TIMER_MINIMUM, and one per (window, id), which arming again
// replaces.
class ThreadTimers {
  public:
    void Arm(CWnd* window, UINT_PTR id, UINT period) {
        const UINT ms = std::max<UINT>(period, USER_TIMER_MINIMUM);
        m_timers[{window, id}] = Timer{::GetTickCount64() + ms, ms, ++m_serial};
    }
    bool Disarm(CWnd* window, UINT_PTR id) { return m_timers.erase({window, id}) != 0; }
    void Forget(CWnd* window) {
        std::erase_if(m_timers, [&](const auto& t) { return t.first.first == window; });
    }

    // Sends WM_TIMER for each timer due. A handler may arm, kill or re-arm
    // any timer, or destroy its window: each timer found due is looked up
    // again, by the serial of its arming, before it fires.
    void FireDue() {
        const ULONGLONG now = ::GetTickCount64();
        std::vector<std::pair<Key, std::uint64_t>> due;
        for (const auto& [key, timer] : m_timers) {
            if (timer.due <= now) {
                due.emplace_back(key, timer.serial);
            }
        }
        for (const auto& [key, serial] : due) {
            auto it = m_timers.find(key);
            if (it == m_timers.end() || it->second.serial != serial) {
                continue;  // killed or replaced meanwhile
            }
            it->second.due = ::GetTickCount64() + it->second.period;
            key.first->SendMessage(WM_TIMER, key.second, 0);
        }
    }

    // How long the loop may wait before the next timer falls due.
    DWORD MsUntilNext() const {
        if (m_timers.empty()) {
            return INFINITE;
        }
        ULONGLONG next = m_timers.begin()->second.due;
        for (const auto& entry : m_timers) {
            next = std::min(next, entry.second.due);
        }
        const ULONGLONG now = ::GetTickCount64();
        return next <= now ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(next - now, 0x7FFFFFFF));
    }

  private:
    using Key = std::pair<CWnd*, UINT_PTR>;
    struct Timer {
        ULONGLONG due;
        UINT period;
        std::uint64_t serial;
    };
    std::map<Key, Timer> m_timers;
    std::uint64_t m_serial = 0;
};

// The calling window thread's timers, while its loop runs.
thread_local ThreadTimers* t_timers = nullptr;

void RunLoop(WindowThreadState& state) {
    t_onWindowThread = true;
    ThreadTimers timers;
    t_timers = &timers;
    const HANDLE events[2] = {state.wake, win32::UseThreadHandOvers()};
    while (state.work.RunPosted()) {
        win32::HandleThreadHandOvers();
        timers.FireDue();
        // Work posted or a hand-over queued since has set its event: the
        // wait then returns at once.
        ::MsgWaitForMultipleObjectsEx(2, events, timers.MsUntilNext(), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    win32::EndThreadHandOvers();
    t_timers = nullptr;
}

}  // namespace

namespace win32 {

void ArmThreadTimer(CWnd* window, UINT_PTR id, UINT period) {
    if (t_timers != nullptr) {
        t_timers->Arm(window, id, period);
    }
}

bool DisarmThreadTimer(CWnd* window, UINT_PTR id) {
    return t_timers != nullptr && t_timers->Disarm(window, id);
}

void ForgetThreadTimers(CWnd* window) {
    if (t_timers != nullptr) {
        t_timers->Forget(window);
    }
}

}  // namespace win32

CWindowThread::CWindowThread() : m_state(std::make_shared<WindowThreadState>()) {
    m_state->thread = std::thread([state = m_state] {
        RunLoop(*state);
        state->work.Ended();
    });
}

CWindowThread::~CWindowThread() {
    Quit();
    Join(kWindowThreadEndMs);
}

void CWindowThread::Post(std::function<void()> fn) {
    if (m_state->work.Push(std::move(fn))) {
        ::SetEvent(m_state->wake);
    }
}

void CWindowThread::Quit() {
    m_state->work.Quit();
    ::SetEvent(m_state->wake);
}

bool CWindowThread::Join(std::uint64_t ms) {
    return JoinWindowThread(m_state->thread, m_state->work, ms);
}

bool AfxOnWindowThread() {
    return t_onWindowThread;
}
