// The receive worker: one thread per opened port, which reads the port and
// hands what it receives to the window as WM_RXDATA.
//
// Principles of operation
// -----------------------
// The worker loops while its run flag is 1: a read (ReadPort, serial_port.h),
// then the hand-over rules (rx_decoder.h), then at most one synchronous
// hand-over (framework/handover.h). The window's handler owns and frees the
// RxMessage it is handed. The worker ends
//   - right after a hand-over whose handler set the run flag to 0 (the end
//     of a download), without waiting for another character;
//   - when its port is closed or lost (ReadPort returns -1); a lost port
//     (PortIsLost) is first handed over as WM_PORTLOST (rx_message.h);
//   - when a hand-over is refused (the port is being closed, the window has
//     gone), freeing the message it could not deliver.
// It never writes to the port and never touches the window's members.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/afxwin.h"
#include "framework/handover.h"
#include "image/machine_types.h"
#include "serial/serial_port.h"

struct WorkerParams {
    PortHandle port = kNoPort;
    CWnd* window = nullptr;             // target of WM_RXDATA
    std::atomic<std::uint32_t> run{1};  // 1 while the worker is to go on
    MachineType machineType = 0;        // selects raw or framed handling, here and in the window
    CHandOver handOver;                 // the worker's channel to the window
};

// The thread routine. Returns 1.
unsigned ReceiveWorker(WorkerParams* params);
