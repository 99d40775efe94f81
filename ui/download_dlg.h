// CDownloadDlg, the main dialog: the operator's whole view of the tool, and
// the owner of the image and of every piece of download state.
//
// Principles of operation
// -----------------------
// Everything here runs on the user-interface thread; no member is touched by
// any other thread. The handlers are split by concern:
//   ui/download_dlg.cpp      window start, system menu, paint, Exit, the
//                            machine type box;
//   ui/load_file.cpp         Load File;
//   download/port_scan.cpp   Program, the scan timers, the frame of the
//                            received-data handler, the opening request;
//   download/char_protocol.cpp, download/block_protocol.cpp
//                            the two protocols;
//   download/progress.cpp    the progress shown while blocks go out.
//
// A download: the scan takes the list of ports to try (the dialog's own,
// set with SetPorts, else PortList()) and walks it one port a second. Each
// port that opens is given the dialog's port options, then a receive worker
// is started and the machine type's opening request sent; a port whose
// machine has not answered a second later is given up. The machine that
// answers then drives the protocol of its type until the image has gone
// out, and the window shows the bytes sent, a progress bar and the
// percentage.
//
// Control states. "Program" is enabled by a successful Load File, an
// exhausted scan, and the end of a download (or the machine's stop frame);
// it is disabled at start and when pressed. The machine type box is usable
// only after a scan ended without finding a machine; Load File, Program and
// the end of a download disable it. Load File and Exit are always enabled.
//
// Front ends without a window (download-cli) give the dialog an observer
// (ui/download_events.h) that is told what happens as typed values, beside
// what the controls show; several dialogs, each with its own ports, can run
// at once on one user-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/afxfile.h"
#include "framework/afxwin.h"
#include "image/machine_types.h"
#include "serial/rx_message.h"
#include "serial/serial_port.h"
#include "ui/download_events.h"
#include "ui/resource.h"

struct WorkerParams;

// The character protocol's position in its exchange. Program starts it
// afresh at AwaitStart: after a download broken off mid-way, the next
// Program serves the restarted machine from its first request.
enum class CharState : std::uint8_t { AwaitStart = 1, Sending = 2, AwaitFinish = 3 };

inline constexpr UINT_PTR TIMER_SCAN = 1;   // one port-scan step
inline constexpr UINT_PTR TIMER_REPLY = 2;  // deadline for the machine's answer
inline constexpr UINT kScanStepMs = 1000;
inline constexpr UINT kReplyDeadlineMs = 1000;
inline constexpr std::uint32_t kBlockSize = 128;

class CDownloadDlg : public CDialog {
  public:
    explicit CDownloadDlg(CWnd* pParent = nullptr);
    // Closes a port still open, which ends its worker.
    ~CDownloadDlg() override;

    enum { IDD = IDD_MAIN };

    // Read-only views of the download state, for tests and front ends.
    MachineType GetMachineType() const { return m_machineType; }
    std::uint32_t GetSentBytes() const { return m_sentBytes; }
    std::uint32_t GetBlockCounter() const { return m_blockCounter; }
    std::uint8_t GetPortIndex() const { return m_portIndex; }
    std::uint32_t GetImageLength() const { return m_imageLength; }
    const std::uint8_t* GetImage() const { return m_image; }
    // Writes n bytes into the image as sent, at offset (a station's serial
    // number for the unit under way); what falls past the image is left
    // out.
    void PatchImage(std::uint32_t offset, const std::uint8_t* bytes, std::size_t n);
    CharState GetCharState() const { return m_charState; }
    PortHandle GetPort() const { return m_hPort; }
    // The marker StartReceiveWorker returned for the last worker (on Windows
    // its thread's handle, closed with the port); 0 before the first.
    std::uintptr_t GetWorker() const { return m_hWorker; }
    bool GetReplySeen() const { return m_replySeen != 0; }
    std::uint32_t GetRepeatedRequests() const { return m_repeatedRequests; }

    // The observer told of what happens (null: none). It must outlive the
    // dialog or be reset before it goes.
    void SetEvents(CDownloadEvents* events) { m_pEvents = events ? events : &m_noEvents; }
    // The ports this dialog's Program tries, in place of PortList(); for
    // front ends that run one dialog per port. At most 255 are kept; an
    // empty list goes back to PortList().
    void SetPorts(std::vector<std::string> names);
    const std::vector<std::string>& GetPorts() const { return m_ownPorts; }
    // The options every port this dialog opens is given, before its worker
    // starts (serial_port.h: fast frames, the abort flag), and the port open
    // now too. The window leaves them at their defaults; download-cli sets
    // them per position, so no other dialog's ports see them.
    void SetPortOptions(const PortOptions& options);
    const PortOptions& GetPortOptions() const { return m_portOptions; }

    // Loads the image at `path` as Load File does once its dialog has given
    // a file: reads it for the selected machine type, shows its length,
    // enables Program and unscrambles it. A file that cannot be opened or
    // read, or is not a regular file, is returned as the file layer's error
    // and changes nothing.
    std::optional<CFileException> LoadImageFile(const std::string& path);
    // Takes an image already read from its file (at most kImageCapacity
    // bytes, the file's own bytes) as Load File takes what it reads: shows
    // its length, enables Program and unscrambles it. For front ends that
    // read the file once and record what they read.
    void LoadImage(const std::uint8_t* bytes, std::size_t n);

  protected:
    BOOL OnInitDialog() override;

    // ui/download_dlg.cpp
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnExit();
    void OnMachineTypeChange();

    // ui/load_file.cpp
    void OnLoadFile();

    // download/port_scan.cpp
    void OnProgram();
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnRxData(WPARAM wParam, LPARAM lParam);
    LRESULT OnPortLost(WPARAM wParam, LPARAM lParam);
    void ScanStep();
    void ReplyDeadline();
    void SendHandshake();

    // download/char_protocol.cpp
    void OnRxDataChar(const RxMessage& message, WorkerParams& params);
    // download/block_protocol.cpp
    void OnRxDataBlock(const RxMessage& message, WorkerParams& params);
    // False when the port did not take the block (the download is then
    // ended by the caller, which has the worker's params).
    bool SendBlock(std::uint8_t requested);

    // download/progress.cpp
    void ShowSentBytes();
    void ShowProgress();
    // Copies count image bytes from offset; bytes that would lie outside
    // m_image are sent as 0, so no counter can make us read past it.
    void CopyFromImage(std::uint8_t* out, std::uint64_t offset, std::size_t count) const;
    // Ends the download: the worker ends once the hand-over we are in
    // returns, Program is enabled, and the observer is told how it ended.
    // The machine type box is disabled after an ending the machine agreed
    // to (done, or closed early); it stays as it was after a stop frame or
    // a write the port did not take.
    void EndDownload(WorkerParams& params, DownloadEnd how);
    // Writes bytes of the download; when the port does not take them (a
    // failed write, a line held past the write's bound), ends the download
    // as PortRefused, naming what was not taken, and returns false.
    // offset: the image bytes sent before these.
    bool WriteOrEnd(WorkerParams& params, const std::uint8_t* bytes, std::size_t n,
                    const std::string& what, std::uint32_t offset);
    // The last block (from offset) went out: done once the port's output
    // has drained, else PortRefused for that block.
    void EndWhenDrained(WorkerParams& params, const std::string& lastBlock, std::uint32_t offset);
    // "block N", N counting the image's blocks of 128 bytes from 0.
    static std::string BlockName(std::uint64_t offset);

    DECLARE_MESSAGE_MAP()

    HICON m_hIcon = nullptr;
    MachineType m_machineType = 0;
    std::uint32_t m_replySeen = 0;  // 1 once the machine answered the last opening request
    std::uint8_t m_portIndex = 0;   // index into m_scanPorts
    std::uint32_t m_sentBytes = 0;
    std::uint32_t m_blockCounter = 0;  // blocks sent, block protocol
    PortHandle m_hPort = kNoPort;      // kInvalidPort after a failed open
    std::uintptr_t m_hWorker = 0;      // nonzero once a worker has been started
    std::uint8_t m_image[kImageCapacity] = {};
    std::uint32_t m_imageLength = 0;
    CharState m_charState = CharState::AwaitStart;
    // Block requests that asked for the block last sent again, since Program:
    // a measure of the line's quality, for production records.
    std::uint32_t m_repeatedRequests = 0;
    // Why the port did not take the last opening request, for the observer
    // when no answer comes; empty when it did.
    std::string m_handshakeError;
    // What the port did not take in the download, and why, for the ending.
    std::string m_refusedWhat, m_writeError;
    std::uint32_t m_refusedOffset = 0;  // image bytes before what was not taken
    std::string m_portName;             // the name m_hPort was opened under

    CDownloadEvents m_noEvents;  // told when nobody listens: does nothing
    CDownloadEvents* m_pEvents = &m_noEvents;
    std::vector<std::string> m_ownPorts;  // empty: PortList()
    PortOptions m_portOptions;            // given to each port opened
    // The ports of the scan under way, taken at its first step; m_portIndex
    // counts in this list.
    std::vector<std::string> m_scanPorts;
    bool m_takePortList = false;  // set by Program

  private:
    // The name of the port at m_portIndex in the scan's list, or "".
    std::string ScanPortName() const;
    // Closes m_hPort (ending its worker); a worker that would not end is
    // told to the observer.
    void ClosePortInUse();
};
