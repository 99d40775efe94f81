// Serial ports on Win32: closing a port, which ends its worker before the
// device is closed and puts back the settings the port had.
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "framework/win32/win32.h"
#include "serial/port_errors.h"
#include "serial/receive_worker.h"
#include "serial/serial_port.h"
#include "serial/win32/com_port.h"

using comport::FindPort;
using comport::IoEnded;
using comport::Port;
using comport::TheBackend;

namespace {

// Tells the port's worker to end: its run flag cleared, a hand-over it has
// in flight taken back, and its waits ended by the close event.
void StopWorker(Port& port) {
    if (port.params) {
        port.params->run = 0;
        port.params->handOver.Revoke();
    }
    ::SetEvent(port.closeEvent);
}

// Waits for the worker's thread to end, no longer than kWorkerEndMs. A
// hand-over it was waiting on has been taken back (StopWorker), so nothing
// of this thread's is needed for it to end. True when the thread has ended.
bool WaitForWorkerEnd(Port& port) {
    return ::WaitForSingleObject(port.thread, kWorkerEndMs) == WAIT_OBJECT_0;
}

// The worker has not ended (stuck in a driver, say). Nothing it may still
// touch is freed or closed: the port goes to the stranded ones with its
// device open, so its handle value cannot come back for a port opened
// later.
void StrandPort(PortHandle h) {
    NoteCloseError("the receive worker did not end within " + std::to_string(kWorkerEndMs) +
                   " ms; the port is left open");
    std::lock_guard<std::mutex> g(TheBackend().lock);
    auto& b = TheBackend();
    auto it = b.ports.find(h);
    b.stranded.push_back(std::move(it->second));
    b.ports.erase(it);
}

// Leaves the port as we found it. A device that has gone refuses this, and
// there is nobody left to tell.
void RestoreSettings(Port& port) {
    if (port.haveSavedMask) {
        ::SetCommMask(port.device, port.savedMask);
    }
    if (port.haveSavedTimeouts) {
        ::SetCommTimeouts(port.device, &port.savedTimeouts);
    }
    if (port.haveSavedState) {
        ::SetCommState(port.device, &port.savedState);
    }
}

// Takes the port out of the table while its device is still open. The
// device's handle value names no other port until the device is closed:
// taken out first, the port can never be mistaken for one that another
// thread opens the moment it is closed, under the same value.
std::unique_ptr<Port> TakePort(PortHandle h) {
    std::lock_guard<std::mutex> g(TheBackend().lock);
    auto& ports = TheBackend().ports;
    auto it = ports.find(h);
    std::unique_ptr<Port> port = std::move(it->second);
    ports.erase(it);
    return port;
}

// Closes the device, which ends what the driver would not cancel; should
// it still not say so, the records it may yet complete into are kept,
// with their events.
void ReleasePort(std::unique_ptr<Port> port) {
    ::CloseHandle(port->device);
    const bool settled = (!port->writeStuck || IoEnded(port->writeEvent)) &&
                         (!port->readStuck || IoEnded(port->readEvent));
    if (!settled) {
        std::lock_guard<std::mutex> g(TheBackend().lock);
        TheBackend().stranded.push_back(std::move(port));
        return;
    }
    ::CloseHandle(port->closeEvent);
    ::CloseHandle(port->readEvent);
    ::CloseHandle(port->writeEvent);
}

}  // namespace

bool ClosePort(PortHandle h) {
    if (h == kNoPort || h == kInvalidPort) {
        return true;
    }
    Port* port = FindPort(h);
    if (port == nullptr) {
        return true;
    }
    StopWorker(*port);
    if (port->thread) {
        if (!WaitForWorkerEnd(*port)) {
            StrandPort(h);
            return false;
        }
        ::CloseHandle(port->thread);
    }
    std::unique_ptr<Port> owned = TakePort(h);
    RestoreSettings(*owned);
    ReleasePort(std::move(owned));
    return true;
}
