// A simulated target machine on an in-memory serial line, for headless
// tests and the headless demo.
#pragma once

#include <string>

#include "serial/memory/memory_line.h"
#include "tools/sim/target_machine.h"

class SimulatedDevice : public memory::Peer {
  public:
    SimulatedDevice(MachineType type, SimFaults faults = {}, std::uint32_t expectedSize = 0)
        : machine(type, faults, expectedSize) {}

    // Attaches this machine to the port of that name.
    memory::Line& AttachTo(const std::string& portName);

    void OnHostBytes(memory::Line& line, const std::uint8_t* bytes, std::size_t n) override;
    void OnOpenChanged(memory::Line& line, bool open) override;

    TargetMachine machine;
};
