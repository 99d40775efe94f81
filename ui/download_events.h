// CDownloadEvents: what a download did, told as typed values to a front end
// that runs the main dialog without looking at it (download-cli).
//
// Principles of operation
// -----------------------
// The dialog shows what happens in its controls; beside that, it tells an
// observer set with CDownloadDlg::SetEvents the same facts as values. A front
// end learns what a download did from these calls alone, never from a status
// text or from which buttons are enabled, so a change to a text or to an
// enable rule cannot change what it concludes.
//
// Every call is made on the user-interface thread, from inside the dialog's
// handler that did the thing, after the dialog has updated its own state and
// controls. An observer must not destroy the dialog from a call. Every
// member has an empty default, so an observer overrides only what it needs;
// a dialog without an observer behaves exactly as with one.
//
// The calls of one Program, in order:
//   PortTried        for each port of the scan: opened, open failed (with the
//                    system's reason), settings refused (with the call and
//                    the system's reason), or opened and no answer in time;
//   ScanEnded        every port tried, no machine answered;
//   MachineAnswered  the machine on the port last opened answered the
//                    opening request (once per opened port);
//   BlockSent        after each block went out: bytes sent, the image length,
//                    repeated requests so far;
//   DownloadEnded    once, with how it ended (DownloadEnding below);
//   PortLost         the device of the port whose machine answered went
//                    away (unplugged, the far end closed). Not told for a
//                    port we closed ourselves, nor for one whose machine had
//                    not answered: that port is one that did not answer,
//                    and the scan goes on past it;
//   PortNotClosed    closing a port left its worker running (serial_port.h,
//                    ClosePort): the port stays open for the process's life.
#pragma once

#include <cstdint>
#include <string>

#include "serial/port_outcome.h"

// Done is told only when it is true: every byte of the image was written
// and drained, and the protocol reached its end with nothing left (for the
// character protocol, the machine's closing "6" with the whole image sent).
enum class DownloadEnd : std::uint8_t {
    Done,
    StoppedByMachine,  // the block protocol's stop frame
    EndedEarly,        // the machine closed the exchange before the image was all sent
    PortRefused,       // a write failed, or the output did not drain in time
};

struct DownloadEnding {
    DownloadEnd how = DownloadEnd::Done;
    std::uint32_t sent = 0, total = 0;  // bytes sent, the image length
    // PortRefused: what the port did not take ("block 3", counting the
    // image's blocks of 128 bytes from 0; "the length"; "the closing 6"),
    // and the system's reason.
    std::string what;
    std::string reason;
};

class CDownloadEvents {
  public:
    virtual ~CDownloadEvents() = default;

    // reason: the system's words for a failed open; for refused settings
    // the call that failed and the system's words; else empty.
    virtual void PortTried(const std::string& /*port*/, PortOutcome /*outcome*/,
                           const std::string& /*reason*/) {}
    virtual void ScanEnded() {}
    virtual void MachineAnswered(const std::string& /*port*/) {}
    virtual void BlockSent(std::uint32_t /*sent*/, std::uint32_t /*total*/,
                           std::uint32_t /*repeatedRequests*/) {}
    virtual void DownloadEnded(const DownloadEnding& /*ending*/) {}
    virtual void PortLost(const std::string& /*port*/) {}
    virtual void PortNotClosed(const std::string& /*port*/, const std::string& /*reason*/) {}
};
