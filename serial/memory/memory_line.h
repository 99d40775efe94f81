// In-memory serial lines: the serial backend of the headless build.
//
// Principles of operation
// -----------------------
// A test attaches a device (a Peer) to a port name. Opening that name gives
// a port whose writes go straight to the peer, on the user-interface
// thread, and whose reads are the chunks the peer delivers on the headless
// clock (framework/headless/headless.h). One delivered chunk is one read, as
// if the bytes had come without a pause and the line had then gone quiet:
// so a peer models a reply split by a pause as two chunks.
//
// Names with no device attached do not open. A device can be marked busy
// (in use by another program), which also makes the open fail, and it can
// hang up, which ends the read of the port's worker as a pulled USB cable
// would.
//
// A line keeps the settings the host asked for, and, as a real port does,
// gets back the settings it had when the port was opened once it closes.
// The port's own options (SetPortOptions) go with the port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/port_timeouts.h"
#include "serial/serial_port.h"

namespace memory {

// What the line's driver holds: the timeouts, as a COM port's driver keeps
// them, and the rest of the line's settings.
struct LineSettings : PortTimeouts {
    std::uint32_t baudRate = 0;
    int dataBits = 7;  // not what the tool sets, so a missing setting shows
    int parity = 2;
    int stopBits = 2;     // the driver's; the tool must keep it
    int flowControl = 1;  // the driver's; the tool must keep it
    std::uint32_t eventMask = 0;
    std::uint32_t inQueue = 0, outQueue = 0;
    int purges = 0;  // how many times the queues were purged: an action, not a setting
};

class Line;

// The device at the far end of a line.
class Peer {
  public:
    // A peer that goes detaches itself from every line it was attached to.
    virtual ~Peer();
    // Bytes the host wrote, one write at a time. User-interface thread.
    virtual void OnHostBytes(Line& line, const std::uint8_t* bytes, std::size_t n) = 0;
    // The host opened the port (true) or closed it (false).
    virtual void OnOpenChanged(Line&, bool /*open*/) {}
};

class Line {
  public:
    // Device side; user-interface thread. A chunk delivered while the port is
    // not open is lost, as on a real line.
    void Deliver(std::vector<std::uint8_t> chunk);
    void DeliverAfter(std::uint64_t ms, std::vector<std::uint8_t> chunk);
    void Hangup();  // the device is gone until it is attached again
    // Holds the host's output, as a device's flow control does: writes
    // then wait in the driver's queue (outQueue bytes, as ConfigurePort
    // set it) and reach nobody; one that does not fit there times out, and
    // a drain fails while anything waits. Releasing the hold passes what
    // waits on to the device.
    void HoldOutput(bool held);

    bool IsOpen() const;
    LineSettings Settings() const;
    // Every write the host made, in order, since the device was attached.
    std::vector<std::vector<std::uint8_t>> Writes() const;
    // The options of the port open on the line (SetPortOptions); the
    // defaults while none is. Fast frames change nothing here (a chunk is a
    // read already); a set abort flag makes a write that finds no room in
    // the held queue give up as interrupted rather than as timed out.
    PortOptions OpenPortOptions() const;

  private:
    friend struct LineAccess;  // the backend, which keeps the state below
    Peer* m_peer = nullptr;
    LineSettings m_settings;
    std::vector<std::vector<std::uint8_t>> m_writes;
    bool m_busy = false;
    bool m_configureFails = false;
    bool m_hungUp = false;
    bool m_held = false;
    std::vector<std::vector<std::uint8_t>> m_queued;  // written while held
    std::intptr_t m_openHandle = 0;
};

// Attaches a device under a port name, replacing any earlier one. The peer
// must outlive its attachment. Returns the line.
Line& AttachDevice(const std::string& name, Peer* peer);
void SetBusy(const std::string& name, bool busy);
// Makes ConfigurePort on that line fail (the settings are still taken), as
// a driver that refuses a setting does.
void SetConfigureFails(const std::string& name, bool fails);
// Detaches every device; the line of a port still open goes when it closes.
void DetachAll();
// Ports open right now, and receive workers running right now.
int OpenPortCount();
int LiveWorkerCount();

}  // namespace memory
