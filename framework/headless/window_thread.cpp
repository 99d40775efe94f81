// Window threads of the headless backend: in real time, a thread with a
// clock of its own; on the virtual clock, the user-interface thread.
#include "framework/window_thread.h"
#include "framework/headless/headless.h"
#include "framework/window_thread_state.h"

struct WindowThreadState {
    WindowThreadWork work;
    headless::ThreadClock* clock = nullptr;  // real time only
    std::thread thread;
};

CWindowThread::CWindowThread() : m_state(std::make_shared<WindowThreadState>()) {
    if (!headless::InRealTime()) {
        return;
    }
    m_state->clock = headless::MakeThreadClock();
    m_state->thread = std::thread([state = m_state] {
        t_onWindowThread = true;
        headless::UseThreadClock(state->clock);
        // The clock runs with real time; work posted, hand-overs and timers
        // are served as they come.
        while (state->work.RunPosted()) {
            headless::RunInRealTime([&] { return headless::TakePoke() || state->work.Pending(); },
                                    24 * 3600 * 1000);
        }
        state->work.Ended();
    });
}

CWindowThread::~CWindowThread() {
    Quit();
    Join(kWindowThreadEndMs);
}

void CWindowThread::Post(std::function<void()> fn) {
    if (!m_state->work.Push(std::move(fn))) {
        return;
    }
    if (m_state->clock != nullptr) {
        headless::PokeThreadClock(m_state->clock);
    } else {
        // On the virtual clock: run by the user-interface thread as the
        // clock runs, in the order posted.
        headless::At(0, [state = m_state] { state->work.RunPosted(); });
    }
}

void CWindowThread::Quit() {
    m_state->work.Quit();
    if (m_state->clock != nullptr) {
        headless::PokeThreadClock(m_state->clock);
    }
}

bool CWindowThread::Join(std::uint64_t ms) {
    if (m_state->clock == nullptr) {
        // Whatever was posted and has not run yet runs now.
        m_state->work.RunPosted();
        return true;
    }
    return JoinWindowThread(m_state->thread, m_state->work, ms);
}

bool AfxOnWindowThread() {
    return t_onWindowThread;
}
