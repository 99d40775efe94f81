// The synchronous hand-over on Win32: the platform's cross-thread
// SendMessage. A message cannot be taken back once sent; a revoked worker is
// refused before it sends, and one already waiting is handled by the window
// thread while it waits for the worker to end (see serial/win32).
#include <mutex>

#include "framework/handover.h"
#include "framework/win32/window_impl.h"

struct HandOverState {
    std::mutex lock;
    bool revoked = false;
};

CHandOver::CHandOver() : m_state(std::make_unique<HandOverState>()) {}
CHandOver::~CHandOver() = default;

bool CHandOver::Send(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = target ? target->Impl()->hwnd : nullptr;
    {
        std::lock_guard<std::mutex> g(m_state->lock);
        if (m_state->revoked || hwnd == nullptr) {
            return false;
        }
    }
    // Unlike SendMessage, this tells a window that has gone (or a thread
    // that has ended) from a handler that ran.
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_NORMAL | SMTO_ERRORONEXIT,
                                 0x7FFFFFFF, &result) != 0;
}

void CHandOver::Revoke() {
    std::lock_guard<std::mutex> g(m_state->lock);
    m_state->revoked = true;
}

bool CHandOver::Revoked() const {
    std::lock_guard<std::mutex> g(m_state->lock);
    return m_state->revoked;
}
