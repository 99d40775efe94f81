// Counting download-cli's interrupts; see interrupts.h.
#include "tools/cli/interrupts.h"

#include <atomic>

namespace {

std::atomic<int> g_count{0};
std::atomic<int> g_last{0};
std::atomic<int> g_stopNow{0};  // also the abort flag of the units' ports
std::atomic<bool> g_firstInterruptWaits{false};

}  // namespace

void ArmInterrupts(bool firstInterruptWaits) {
    g_firstInterruptWaits = firstInterruptWaits;
}

void NoteInterrupt(int signal) {
    g_last = signal;
    const int count = g_count.fetch_add(1) + 1;
    if (!g_firstInterruptWaits.load() || count >= 2 || signal == kInterruptSigTerm) {
        g_stopNow = 1;
    }
}

int StopSignal() {
    return g_stopNow.load() != 0 ? g_last.load() : 0;
}

const std::atomic<int>* StopNowFlag() {
    return &g_stopNow;
}

int InterruptCount() {
    return g_count.load();
}

int LastInterrupt() {
    return g_last.load();
}
