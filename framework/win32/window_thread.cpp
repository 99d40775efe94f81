// Window threads of the Win32 backend. Their work runs on the
// user-interface thread, in the order posted, from a message-only window
// of the framework's own: a dialog made by that work belongs to the
// user-interface thread and is served by its message loop (and by a modal
// loop's), as every other window is. Dialogs of their own threads, each
// with its own message loop, stay for when the serial and window layers
// have been shown to take that under Wine, where four such threads starting
// their dialogs and downloads at once lost hand-overs.
#include "framework/win32/win32.h"

#include <memory>

#include "framework/window_thread.h"
#include "framework/window_thread_state.h"

struct WindowThreadState {
    WindowThreadWork work;
};

namespace {

constexpr UINT kRunPosted = WM_APP + 1;
constexpr wchar_t kClassName[] = L"DownloadTool.WindowThreads";

LRESULT CALLBACK RunnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunPosted) {
        // The message holds the thread's state, so it is there however
        // long the message waited.
        const std::unique_ptr<std::shared_ptr<WindowThreadState>> state(
            reinterpret_cast<std::shared_ptr<WindowThreadState>*>(lParam));
        (*state)->work.RunPosted();
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// The message-only window that runs posted work; made on the
// user-interface thread with the first window thread.
HWND Runner() {
    static HWND runner = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &RunnerProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        ::RegisterClassW(&wc);
        return ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
    }();
    return runner;
}

}  // namespace

CWindowThread::CWindowThread() : m_state(std::make_shared<WindowThreadState>()) {
    Runner();
}

CWindowThread::~CWindowThread() {
    Quit();
    Join(kWindowThreadEndMs);
}

void CWindowThread::Post(std::function<void()> fn) {
    if (m_state->work.Push(std::move(fn))) {
        auto* state = new std::shared_ptr<WindowThreadState>(m_state);
        if (!::PostMessageW(Runner(), kRunPosted, 0, reinterpret_cast<LPARAM>(state))) {
            delete state;
        }
    }
}

void CWindowThread::Quit() {
    m_state->work.Quit();
}

bool CWindowThread::Join(std::uint64_t) {
    // Whatever was posted and has not run yet runs now; a message still
    // queued for it finds nothing left.
    m_state->work.RunPosted();
    return true;
}

bool AfxOnWindowThread() {
    return false;
}
