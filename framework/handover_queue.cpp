// The hand-over's queue, and CHandOver on top of it, for the backends whose
// window thread runs the handlers itself.
#include "framework/handover_queue.h"

#include <algorithm>

HandOverState::HandOverState() : queue(TheHandOverQueue()), waiter(queue.Watcher()) {}

bool HandOverQueue::Send(HandOverState& s, CWnd* target, UINT message, WPARAM wParam,
                         LPARAM lParam) {
    std::unique_lock<std::mutex> g(m_loop.Lock());
    if (s.revoked || target == nullptr || !m_loop.Accepts(target)) {
        return false;
    }
    s.target = target;
    s.message = message;
    s.wParam = wParam;
    s.lParam = lParam;
    s.handled = false;
    s.dropped = false;
    s.queued = true;
    m_waiting.push_back(&s);
    g.unlock();
    m_loop.Wake();
    g.lock();
    s.waiter.Wait(g, [&] { return s.handled || s.dropped; });
    return s.handled;
}

void HandOverQueue::Revoke(HandOverState& s) {
    std::lock_guard<std::mutex> g(m_loop.Lock());
    s.revoked = true;
    if (s.queued) {
        Drop(s);
    }
}

bool HandOverQueue::Revoked(const HandOverState& s) {
    std::lock_guard<std::mutex> g(m_loop.Lock());
    return s.revoked;
}

bool HandOverQueue::HandleOne() {
    HandOverState* s = nullptr;
    {
        std::lock_guard<std::mutex> g(m_loop.Lock());
        if (m_waiting.empty()) {
            return false;
        }
        s = m_waiting.front();
        m_waiting.pop_front();
        s->queued = false;
    }
    // The sender stays blocked until it is marked handled, so the state,
    // its target and its message are ours until then.
    s->target->SendMessage(s->message, s->wParam, s->lParam);
    // Woken under the lock: once the sender sees it handled it may return,
    // and its state may be freed with its worker.
    std::lock_guard<std::mutex> g(m_loop.Lock());
    s->handled = true;
    s->waiter.Wake();
    return true;
}

void HandOverQueue::ForgetWindow(const CWnd* window) {
    std::lock_guard<std::mutex> g(m_loop.Lock());
    for (HandOverState* s : std::deque<HandOverState*>(m_waiting)) {
        if (s->target == window) {
            s->revoked = true;
            Drop(*s);
        }
    }
}

void HandOverQueue::Drop(HandOverState& s) {
    std::erase(m_waiting, &s);
    s.queued = false;
    s.dropped = true;
    s.waiter.Wake();
}

// --- CHandOver ----------------------------------------------------------------

CHandOver::CHandOver() : m_state(std::make_unique<HandOverState>()) {}
CHandOver::~CHandOver() = default;

bool CHandOver::Send(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam) {
    return m_state->queue.Send(*m_state, target, message, wParam, lParam);
}

void CHandOver::Revoke() {
    m_state->queue.Revoke(*m_state);
}

bool CHandOver::Revoked() const {
    return m_state->queue.Revoked(*m_state);
}
