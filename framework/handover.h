// The synchronous hand-over: how a worker thread gives a message to a window
// and waits until the window's handler has finished with it.
//
// Principles of operation
// -----------------------
// A worker owns one CHandOver. Send() queues the message for the window's
// thread and blocks until the handler has returned, so at most one message
// per worker is ever in flight and messages are handled strictly in order.
// Whatever the handler writes to the port therefore happens before the
// worker reads again.
//
// Revoke() is for the window's thread when the worker's port is being
// closed. A message still waiting is taken back without being handled, the
// blocked Send() returns false, and every later Send() returns false at
// once. The sender still owns a message that was not delivered and frees
// it.
//
// Destroying the target window revokes every hand-over aimed at it, so a
// worker never blocks on a window that is gone.
#pragma once

#include <memory>

#include "framework/afxwin.h"

// Defined by framework/handover_queue.h, the one queue every backend's
// window threads run the handlers from.
struct HandOverState;

class CHandOver {
  public:
    CHandOver();
    ~CHandOver();
    CHandOver(const CHandOver&) = delete;
    CHandOver& operator=(const CHandOver&) = delete;

    // Worker thread. True when the window's handler ran for the message.
    bool Send(CWnd* target, UINT message, WPARAM wParam, LPARAM lParam);

    // Window thread. Takes back a waiting message and refuses later ones.
    void Revoke();
    bool Revoked() const;

  private:
    std::unique_ptr<HandOverState> m_state;
};
