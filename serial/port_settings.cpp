// The line settings every backend applies for a machine type.
#include "serial/serial_port.h"

bool PortSettingsFor(MachineType type, PortSettings* settings) {
    const MachineTypeInfo* info = FindMachineType(type);
    if (info == nullptr || settings == nullptr) {
        return false;
    }
    PortSettings s;
    s.baudRate = info->baudRate;
    s.dataBits = 8;
    s.parity = 0;
    s.eventMask = 1;  // received characters only
    s.inQueue = s.outQueue = 1024;
    s.purge = 0x0F;  // abort and clear transmit and receive
    s.timeouts = TimeoutsWithInterval(info->readIntervalTimeout);
    *settings = s;
    return true;
}
