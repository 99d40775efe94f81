// Window threads of the Win32 backend: a thread running the platform's own
// message loop. A dialog created on it is the thread's window: its timers
// are the thread's WM_TIMER messages, and the hand-overs of its ports'
// workers (cross-thread SendMessage) are handled while the loop waits.
#include "framework/win32/win32.h"

#include "framework/window_thread.h"
#include "framework/window_thread_state.h"

struct WindowThreadState {
    ~WindowThreadState() { ::CloseHandle(wake); }

    WindowThreadWork work;
    HANDLE wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);  // work was posted
    std::thread thread;
};

namespace {

// Waits for posted work or a message, then dispatches every message waiting
// (messages sent from other threads are handled inside PeekMessage).
void WaitAndDispatch(HANDLE wake) {
    ::MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

}  // namespace

CWindowThread::CWindowThread() : m_state(std::make_shared<WindowThreadState>()) {
    m_state->thread = std::thread([state = m_state] {
        t_onWindowThread = true;
        while (state->work.RunPosted()) {
            WaitAndDispatch(state->wake);
        }
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
