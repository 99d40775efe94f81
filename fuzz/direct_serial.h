// A serial backend without threads, for the protocol fuzzer: the fuzzer
// itself plays each port's receive worker, on the user-interface thread.
//
// Principles of operation
// -----------------------
// It implements serial/serial_port.h as the in-memory backend does, except
// that StartReceiveWorker starts no thread. The worker's part is Read():
// one read of the port, put through the same hand-over rules the worker
// uses (RxDecoder, one per worker, keeping its hunt state from read to
// read) and handed to the window as WM_RXDATA, directly. As in
// ReceiveWorker, a worker whose run flag is 0 reads no more, and a read
// longer than the worker's buffer is taken in pieces of 255 bytes.
//
// With no thread and no wait anywhere, one fuzz input costs microseconds
// instead of the thread start-ups and hand-overs that the real worker
// needs; the dialog's handlers and the port calls run exactly as they do in
// the tool.
//
// Devices: a port name opens only while a device is attached to it. Every
// write the host makes to it is kept, one entry a write; an empty write
// puts nothing on the line and is not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace direct {

struct Device;

// Attaches a device under a port name, forgetting its earlier writes.
// Devices live as long as the process.
Device& AttachDevice(const std::string& name);
// Detaches every device: its name no longer opens. A port still open keeps
// working until it is closed.
void DetachAll();

// The worker's read of the device's port: false when no worker is there to
// read (the port is not open, or its worker has ended).
bool Read(const Device& device, const std::uint8_t* bytes, std::size_t n);

// The host's writes to the device since it was attached. Valid until the
// next write or AttachDevice.
std::span<const std::vector<std::uint8_t>> Writes(const Device& device);

// Ports open right now, and workers that have not ended.
int OpenPortCount();
int LiveWorkerCount();

}  // namespace direct
