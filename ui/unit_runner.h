// One programmed unit: the main dialog's own logic, in a dialog nobody
// sees, driven through its messages as the operator would drive it, and
// learning what happened from the dialog's typed events
// (ui/download_events.h), never from what its controls show.
//
// Every fixture position of a station has one runner (station/unit.h), on
// the position's own thread, and so has download-cli's single unit, on its
// user-interface thread. Times are the framework's clock of that thread
// (AfxTickCount), so a runner keeps real time in a window and
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
#include "station/unit.h"
#include "ui/download_events.h"

class CDownloadDlg;

class UnitRunner : public Unit, private CDownloadEvents {
  public:
    // ports: the ports this unit's scans try, as named on the command line
    // (serial/adapter_names.h: resolved afresh for each unit); empty for the
    // platform's list. The image must outlive the runner.
    UnitRunner(const UnitSettings& settings, std::vector<std::string> ports,
               const LoadedImage& image);
    ~UnitRunner() override;  // closes the port and ends its worker

    static std::unique_ptr<Unit> Make(const UnitSettings& settings, std::vector<std::string> ports,
                                      const LoadedImage& image);

    // Makes the dialog (never shown), selects the machine type and loads
    // the image.
    void Prepare() override;
    // Resolves the port names and presses Program for the next unit. A
    // name that does not resolve is told as a port that did not open; when
    // none does, the unit ends after a second as "no machine". The outcome
    // is known once Finished() holds.
    void Start(const UnitEvents& events) override;
    // Whether the unit has ended; also decides a silence past the timeout.
    bool Finished() override;
    // Ends the unit under way as interrupted, unless it has ended already.
    void Interrupt(const std::string& reason) override;
    // Ends a unit that has run for far too long as silent.
    void GiveUp() override;
    // A machine has answered in this unit.
    bool Answered() const override { return m_connected; }
    // The unit ended before any machine answered, by a scan that found none
    // or by an interrupt: in a loop, only a wait for the next unit, which
    // is neither recorded nor counted.
    bool OnlyWaited() const override;
    UnitOutcome Outcome() const override;
    void PatchImage(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) override;
    std::vector<std::uint8_t> ImageAsSent() const override;

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
    bool m_patched = false;  // the dialog's image holds a unit's own bytes
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
