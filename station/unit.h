// One programmed unit, as a station sees it: how it can end, what it is
// programmed with, what it tells as it goes, and the engine that programs
// it (Unit). The engine is the main dialog's own logic (ui/unit_runner.h);
// the station knows it only through this interface, and whoever builds a
// station gives it the way to make one (UnitMaker).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_outcome.h"

// How a unit ended. The exit status of download-cli is the value, but for
// Interrupted, which exits 128 + the signal's number.
enum class UnitResult : int {
    Done = 0,
    NoMachine = 3,  // never answered
    Stopped = 4,    // stopped by the machine
    Silent = 5,     // answered, then fell silent
    PortLost = 6,
    EndedEarly = 7,     // the machine closed the exchange before the whole image was sent
    PortRefused = 8,    // a write failed, or the output did not drain in time
    Interrupted = 128,  // Ctrl+C, SIGTERM, or the station stopped at once
};

struct UnitOutcome {
    UnitResult result = UnitResult::NoMachine;
    std::string reason;  // in plain words
    std::string port;    // where the machine answered, else the last port tried
    // What the port was named by on the command line (a device, or an
    // adapter's serial:/location: name), and its adapter where known.
    std::string portName;
    std::string adapterSerial, adapterLocation;
    std::uint32_t sent = 0, total = 0;
    std::uint32_t repeats = 0;
    double seconds = 0;
    // Given by a station that writes serial numbers: the unit's number,
    // and the SHA-256 of the bytes it was sent (the image with its number).
    std::optional<std::uint64_t> serial;
    std::string sentSha256;
    std::string unitId;  // the unit's scanned ID, when one was bound to it
};

const char* ResultName(UnitResult r);

// What every unit of a runner is programmed with, and how.
struct UnitSettings {
    int type = 0;                // machine type, 0 to 2
    double timeoutSeconds = 10;  // silence after the machine's first answer
    bool fast = false;           // block protocol: frames handed over as soon as complete
    // Set (nonzero) when everything is to stop at once: every write of the
    // unit then gives up without waiting out its bound (PortOptions).
    const std::atomic<int>* abortFlag = nullptr;
};

// What a unit tells as it goes: the front end prints it.
struct UnitEvents {
    std::function<void(const std::string& port, PortOutcome outcome, const std::string& reason)>
        portTried;
    // A port whose worker would not end was left open (serial_port.h).
    std::function<void(const std::string& port, const std::string& reason)> portNotClosed;
    std::function<void(const std::string& port)> connected;
    std::function<void(std::uint32_t sent, std::uint32_t total)> progress;
    // The unit's outcome is now known (Finished() holds). Often told from
    // inside the dialog's own handler: the listener must not destroy the
    // runner from it, only arrange to serve it soon.
    std::function<void()> decided;
};

// The image as read once from its file: what every unit is programmed
// with and what the records describe.
struct LoadedImage {
    std::vector<std::uint8_t> bytes;  // the file's first bytes, at most the dialog's capacity
    std::uint64_t fileSize = 0;       // the whole file's; more than bytes.size() when cut
    std::string sha256;               // of bytes
    bool Cut() const { return fileSize > bytes.size(); }
};

// The engine of one position's units. Made, used and destroyed on one
// thread: the thread its dialog and ports belong to.
class Unit {
  public:
    virtual ~Unit() = default;  // closes the port and ends its worker

    // Ready to program: the dialog made, the type selected, the image loaded.
    virtual void Prepare() = 0;
    // Starts the next unit: a scan of its ports, then the download. The
    // outcome is known once Finished() holds.
    virtual void Start(const UnitEvents& events) = 0;
    // Whether the unit has ended; also decides a silence past the timeout.
    virtual bool Finished() = 0;
    // Ends the unit under way as interrupted, unless it has ended already.
    virtual void Interrupt(const std::string& reason) = 0;
    // Ends a unit that has run for far too long as silent.
    virtual void GiveUp() = 0;
    // A machine has answered in this unit.
    virtual bool Answered() const = 0;
    // The unit ended before any machine answered, by a scan that found none
    // or by an interrupt: in a loop, only a wait for the next unit, which
    // is neither recorded nor counted.
    virtual bool OnlyWaited() const = 0;
    virtual UnitOutcome Outcome() const = 0;

    // Writes bytes into the image as sent, at offset, for the unit under
    // way: from the connected event only, before the machine is sent any
    // of the image. The next unit starts from the image again.
    virtual void PatchImage(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) = 0;
    // The image as the unit under way is sent it.
    virtual std::vector<std::uint8_t> ImageAsSent() const = 0;
};

// Makes the engine of a position: its settings, the ports its scans try
// (as named by the user; resolved afresh for each unit), and the image,
// which outlives it.
using UnitMaker = std::function<std::unique_ptr<Unit>(
    const UnitSettings& settings, std::vector<std::string> ports, const LoadedImage& image)>;
