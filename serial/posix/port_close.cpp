// The POSIX serial backend: closing a port, which ends its worker before
// the device is closed and puts back the settings the port had.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/posix/tty_port.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"

using std::chrono::milliseconds;
using ttyport::Backend;
using ttyport::BitsPerSecond;
using ttyport::Clock;
using ttyport::FindPort;
using ttyport::Port;
using ttyport::TheBackend;

namespace {

// Waits until what was written has left the driver, no longer than it
// takes to send at the configured rate with room to spare: settings put
// back while the last bytes still go out would garble them.
void DrainOutput(const Port& port) {
    int queued = 0;
    if (ioctl(port.fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        return;
    }
    const auto bound = milliseconds(100 + 2 * 10'000LL * queued / BitsPerSecond(port.speed));
    const auto deadline = Clock::now() + bound;
    while (ioctl(port.fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
        poll(nullptr, 0, 5);
    }
}

}  // namespace

bool ClosePort(PortHandle h) {
    if (h == kNoPort || h == kInvalidPort) {
        return true;
    }
    std::shared_ptr<Port> port = FindPort(h);
    if (port == nullptr) {
        return true;
    }
    port->closing = true;
    if (port->params) {
        port->params->run = 0;
        port->params->handOver.Revoke();
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(port->wakeFd, &one, sizeof one);
    if (port->worker.joinable()) {
        port->worker.join();
    }
    // Leave the port as we found it. A device that has gone refuses this,
    // and there is nobody left to tell.
    if (port->haveSaved) {
        DrainOutput(*port);
        tcsetattr(port->fd, TCSANOW, &port->saved);
    }
    {
        Backend& b = TheBackend();
        std::lock_guard<std::mutex> g(b.lock);
        b.ports.erase(h);
    }
    // Dropping the last reference closes the device (see ~Port).
    return true;
}
