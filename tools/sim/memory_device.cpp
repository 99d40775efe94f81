// Carries the simulated machine's replies over an in-memory line: each reply
// piece becomes one read, delivered after its delay on the headless clock.
#include "tools/sim/memory_device.h"

memory::Line& SimulatedDevice::AttachTo(const std::string& portName) {
    return memory::AttachDevice(portName, this);
}

void SimulatedDevice::OnHostBytes(memory::Line& line, const std::uint8_t* bytes, std::size_t n) {
    std::uint64_t at = 0;
    for (SimReply& reply : machine.OnHostBytes(bytes, n)) {
        at += reply.delayMs;
        line.DeliverAfter(at, std::move(reply.bytes));
    }
    if (machine.Vanished()) {
        line.Hangup();
    }
    if (machine.WantsOutputHeld()) {
        line.HoldOutput(true);
    }
}

void SimulatedDevice::OnOpenChanged(memory::Line& line, bool open) {
    if (!open) {
        machine.Reset();
        line.HoldOutput(false);  // the hold was for that session
    }
}
