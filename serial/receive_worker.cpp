// The receive worker's loop, the same on every platform.
#include "serial/receive_worker.h"

#include "serial/rx_decoder.h"

unsigned ReceiveWorker(WorkerParams* params) {
    RxDecoder decoder(params->machineType);
    std::uint8_t buffer[kReadSize] = {};
    while (params->run.load() != 0) {
        const long n = ReadPort(params->port, buffer, sizeof buffer);
        if (n < 0) {
            // Closed under us, or the device went away. Only the latter is
            // news to the window; a refused hand-over means it is closing.
            if (params->run.load() != 0 && PortIsLost(params->port)) {
                params->handOver.Send(params->window, WM_PORTLOST, 0,
                                      reinterpret_cast<LPARAM>(params));
            }
            break;
        }
        // The flag is tested again before acting: a close that raced with
        // this read must find the worker inert.
        if (params->run.load() == 0) {
            break;
        }
        std::unique_ptr<RxMessage> msg = decoder.TakeRead(buffer, static_cast<std::size_t>(n));
        if (!msg) {
            continue;
        }
        RxMessage* handed = msg.release();
        if (!params->handOver.Send(params->window, WM_RXDATA, reinterpret_cast<WPARAM>(handed),
                                   reinterpret_cast<LPARAM>(params))) {
            delete handed;  // never delivered, so still ours
            break;
        }
    }
    return 1;
}
