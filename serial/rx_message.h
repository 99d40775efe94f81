// What a receive worker hands to the window: one RxMessage per hand-over.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/afxwin.h"

// WM_RXDATA: wParam is the RxMessage, which the window's handler then owns
// and frees; lParam is the sender's WorkerParams.
inline constexpr UINT WM_RXDATA = WM_USER + 10;
// WM_PORTLOST: the worker found its port's device gone (not closed by us)
// and is ending. wParam is 0, lParam the sender's WorkerParams. The window
// shows nothing for it; an observer is told.
inline constexpr UINT WM_PORTLOST = WM_USER + 11;

struct RxMessage {
    std::uint8_t cmd = 0;                  // framed: the frame's command byte
    std::uint8_t len = 0;                  // framed: data length; raw: bytes read, 1 to 255
    std::uint8_t block = 0;                // framed: the block number byte
    std::unique_ptr<std::uint8_t[]> data;  // len bytes (may be none)
};
