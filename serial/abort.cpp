// The flag that makes the serial backends give up their waits at once.
#include <atomic>

#include "serial/serial_port.h"

namespace {
std::atomic<const std::atomic<int>*> g_abortFlag{nullptr};
}  // namespace

void SetAbortFlag(const std::atomic<int>* flag) {
    g_abortFlag = flag;
}

bool AbortRequested() {
    const std::atomic<int>* flag = g_abortFlag.load();
    return flag != nullptr && flag->load() != 0;
}
