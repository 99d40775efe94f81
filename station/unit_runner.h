// One programmed unit: the main dialog's own logic, in a dialog nobody
// sees, driven through its messages as the operator would drive it, and
// learning what happened from the dialog's typed events
// (ui/download_events.h), never from what its controls show.
//
// Every fixture position of a station has one runner, and so has
// download-cli: several run at once, each with its own dialog and its own
// ports, all on the one user-interface thread. Times are the framework's
// clock (AfxTickCount), so a runner keeps real time in a window and
// download-cli, and virtual time in tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/adapter_names.h"
#include "ui/download_events.h"

class CDownloadDlg;

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

class UnitRunner : private CDownloadEvents {
  public:
    // ports: the ports this unit's scans try, as named on the command line
    // (serial/adapter_names.h: resolved afresh for each unit); empty for the
    // platform's list. The image must outlive the runner.
    UnitRunner(const UnitSettings& settings, std::vector<std::string> ports,
               const LoadedImage& image);
    ~UnitRunner() override;  // closes the port and ends its worker

    // Makes the dialog (never shown), selects the machine type and loads
    // the image.
    void Prepare();
    // Resolves the port names and presses Program for the next unit. A
    // name that does not resolve is told as a port that did not open; when
    // none does, the unit ends after a second as "no machine". The outcome
    // is known once Finished() holds.
    void Start(const UnitEvents& events);
    // Whether the unit has ended; also decides a silence past the timeout.
    bool Finished();
    // Ends the unit under way as interrupted, unless it has ended already.
    void Interrupt(const std::string& reason);
    // Ends a unit that has run for far too long as silent.
    void GiveUp();
    // A machine has answered in this unit.
    bool Answered() const { return m_connected; }
    // The unit ended before any machine answered, by a scan that found none
    // or by an interrupt: in a loop, only a wait for the next unit, which
    // is neither recorded nor counted.
    bool OnlyWaited() const;
    UnitOutcome Outcome() const;

  private:
    void PortTried(const std::string& port, PortOutcome outcome,
                   const std::string& reason) override;
    void ScanEnded() override;
    void MachineAnswered(const std::string& port) override;
    void BlockSent(std::uint32_t sent, std::uint32_t total, std::uint32_t repeats) override;
    void DownloadEnded(const DownloadEnding& ending) override;
    void PortLost(const std::string& port) override;
    void PortNotClosed(const std::string& port, const std::string& reason) override;

    void Decide(UnitResult result, const std::string& reason);
    // The ports to try this unit, by device; tells those that do not resolve.
    std::vector<std::string> ResolvePorts();
    // The name the port that answered was given, and its adapter's serial
    // number and location where the system knows them.
    void DescribeAdapter();

    UnitSettings m_settings;
    std::vector<std::string> m_ports;
    const LoadedImage& m_image;
    std::unique_ptr<CDownloadDlg> m_dlg;
    UnitEvents m_events;
    // Program is enabled after a load, a scan that found nothing and the
    // end of a download; after any other ending the image is loaded again.
    bool m_programReady = false;
    bool m_connected = false;
    bool m_decided = false;
    UnitOutcome m_outcome;
    std::uint64_t m_start = 0;  // AfxTickCount()
    std::uint64_t m_lastActive = 0;
    // What the names resolved to at the unit's start: device -> its name
    // and description.
    std::vector<std::pair<std::string, ResolvedPort>> m_resolved;
    // A unit none of whose ports resolved ends at this time.
    std::optional<std::uint64_t> m_nothingToTryUntil;
    std::string m_nothingToTryReason;
};
