// Finding the machine: Program, the scan and reply timers, the opening
// request, and the frame of the received-data handler that records the
// machine's answer and passes each message to its protocol.
//
// Timing: a port that does not open costs one second; one that opens but
// stays silent costs two (the reply deadline, then the next step, which
// closes it). A scan that finds nothing ends 17 s (no port opens) to 33 s
// (every port opens and stays silent) after Program.
#include <algorithm>
#include <memory>
#include <string>

#include "serial/out_frame.h"
#include "serial/receive_worker.h"
#include "serial/rx_decoder.h"
#include "serial/serial_port.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

void CDownloadDlg::SetPorts(std::vector<std::string> names) {
    m_ownPorts = CapPortList(std::move(names));
}

void CDownloadDlg::SetPortOptions(const PortOptions& options) {
    m_portOptions = options;
    ::SetPortOptions(m_hPort, m_portOptions);  // no port open: nothing to do
}

std::string CDownloadDlg::ScanPortName() const {
    return m_portIndex < m_scanPorts.size() ? m_scanPorts[m_portIndex] : std::string();
}

void CDownloadDlg::OnProgram() {
    m_takePortList = true;
    m_blockCounter = 0;
    m_sentBytes = 0;
    m_portIndex = 0;
    m_repeatedRequests = 0;
    // A download broken off mid-way (the machine reset or unplugged) must
    // not leave the character protocol waiting for replies of that old
    // exchange: the machine, restarted, begins with "0" and "1" again.
    m_charState = CharState::AwaitStart;
    // Arming an armed timer replaces it, so Program during a scan restarts
    // it. A reply deadline still armed fires once more as usual.
    SetTimer(TIMER_SCAN, kScanStepMs);
    GetDlgItem(IDC_PROGRAM)->EnableWindow(FALSE);
    GetDlgItem(IDC_MACHINE_TYPE)->EnableWindow(FALSE);
}

void CDownloadDlg::OnTimer(UINT_PTR nIDEvent) {
    switch (nIDEvent) {
        case TIMER_SCAN:
            ScanStep();
            break;
        case TIMER_REPLY:
            ReplyDeadline();
            CDialog::OnTimer(nIDEvent);
            break;
        default:
            CDialog::OnTimer(nIDEvent);
            break;
    }
}

void CDownloadDlg::ScanStep() {
    KillTimer(TIMER_SCAN);

    // Give up the port of the previous step (or of the last download). This
    // ends its worker before the next port is opened.
    if (m_hWorker != 0 || (m_hPort != kNoPort && m_hPort != kInvalidPort)) {
        ClosePortInUse();
    }

    // The scan's first step takes the list for the whole scan: a list that
    // changes meanwhile (ports plugged in, another dialog's) cannot shift
    // the index.
    if (m_takePortList) {
        m_takePortList = false;
        m_scanPorts = m_ownPorts.empty() ? PortList() : m_ownPorts;
    }
    if (m_portIndex >= m_scanPorts.size()) {
        KillTimer(TIMER_SCAN);
        GetDlgItem(IDC_PROGRAM)->EnableWindow(TRUE);
        GetDlgItem(IDC_MACHINE_TYPE)->EnableWindow(TRUE);
        m_pEvents->ScanEnded();
        return;  // the status line keeps the last port's message
    }

    const std::string name = m_scanPorts[m_portIndex];
    m_hPort = OpenPortByName(name);
    m_portName = name;
    auto openFailed = [&](const std::string& reason) {
        const std::string text = name + kStatusOpenFail;
        m_portIndex += 1;
        SetDlgItemText(IDC_STATUS, text.c_str());
        SetTimer(TIMER_SCAN, kScanStepMs);
        m_pEvents->PortTried(name, PortOutcome::OpenFailed, reason);
    };
    if (m_hPort == kInvalidPort) {
        openFailed(LastOpenError());
        return;
    }

    // The port's own options, before its worker reads it: they are this
    // dialog's, never another's.
    ::SetPortOptions(m_hPort, m_portOptions);
    SetDlgItemText(IDC_STATUS, (name + kStatusOpenSuccess).c_str());
    m_pEvents->PortTried(name, PortOutcome::Opened, std::string());
    // A setting the driver refuses has no text of the status line: the
    // scan goes on, and the machine's answer, or its silence, tells. A
    // front end without a window is told which call failed and why.
    if (!ConfigurePort(m_hPort, m_machineType)) {
        m_pEvents->PortTried(name, PortOutcome::SettingsRefused, LastConfigureError());
    }

    auto* params = new WorkerParams;
    params->port = m_hPort;
    params->window = this;
    params->run = 1;
    params->machineType = m_machineType;
    const std::uintptr_t worker = StartReceiveWorker(params);  // params are the port's now
    if (worker == 0) {
        // No thread to read the port (the system is out of them): a port
        // we cannot listen on is a port that did not open.
        const std::string reason = LastOpenError();
        ClosePortInUse();
        openFailed(reason);
        return;
    }
    m_hWorker = worker;

    SendHandshake();
    // Cannot race with the answer: the worker's hand-over waits until this
    // handler has returned.
    m_replySeen = 0;
    SetTimer(TIMER_REPLY, kReplyDeadlineMs);
    CDialog::OnTimer(TIMER_SCAN);
}

void CDownloadDlg::ReplyDeadline() {
    KillTimer(TIMER_REPLY);
    if (m_replySeen == 0) {
        const std::string name = ScanPortName();
        SetDlgItemText(IDC_STATUS, (name + kStatusConnectFail).c_str());
        m_portIndex += 1;
        SetTimer(TIMER_SCAN, kScanStepMs);
        m_pEvents->PortTried(name, PortOutcome::NoAnswer, m_handshakeError);
    }
    // An answer in time: the port stays open and the protocol goes on.
}

void CDownloadDlg::SendHandshake() {
    m_handshakeError.clear();
    const MachineTypeInfo* info = FindMachineType(m_machineType);
    if (info == nullptr) {
        return;
    }
    if (info->protocol == ProtocolKind::CharProtocol) {
        const std::uint8_t request = '0';
        if (!WritePort(m_hPort, &request, 1)) {
            m_handshakeError = "the port did not take the opening request: " + LastWriteError();
        }
        return;
    }
    // Command 0x80 with the access string and its terminating zero: 9 bytes
    // of payload, 14 on the wire.
    OutRecord record;
    record.command = kOpeningCommand;
    std::copy_n(info->accessString, kAccessStringLength, record.payload.begin());
    record.payload[kAccessStringLength] = 0;
    OutFrame frame;
    const std::size_t length = BuildFrame(record, frame.data(), kAccessStringLength + 1);
    // Not taken, the request cannot be answered: the deadline gives the
    // port up as usual, and the observer hears why.
    if (!WritePort(m_hPort, frame.data(), length)) {
        m_handshakeError = "the port did not take the opening request: " + LastWriteError();
    }
}

LRESULT CDownloadDlg::OnRxData(WPARAM wParam, LPARAM lParam) {
    // The message is ours from here on, whatever happens to it.
    std::unique_ptr<RxMessage> message(reinterpret_cast<RxMessage*>(wParam));
    auto* params = reinterpret_cast<WorkerParams*>(lParam);
    if (!message || params == nullptr) {
        return 0;
    }
    // A worker that was told to stop, or whose port is no longer ours, gets
    // no hearing: what it sent is dropped without effect.
    if (params->run.load() == 0 || params->port != m_hPort) {
        return 0;
    }
    const MachineTypeInfo* info = FindMachineType(params->machineType);
    if (info == nullptr) {
        return 0;
    }
    // Any reply at all answers the character protocol's opening request; a
    // framed machine answers with its first block request. The observer is
    // told before the protocol acts on the answer, so that it hears of the
    // machine before the first block it is sent.
    const bool answers =
        info->protocol == ProtocolKind::CharProtocol || message->cmd == kBlockRequest;
    if (answers && m_replySeen == 0) {
        m_replySeen = 1;
        m_pEvents->MachineAnswered(ScanPortName());
    }
    if (info->protocol == ProtocolKind::CharProtocol) {
        OnRxDataChar(*message, *params);
    } else {
        OnRxDataBlock(*message, *params);
    }
    return 0;
}

LRESULT CDownloadDlg::OnPortLost(WPARAM, LPARAM lParam) {
    auto* params = reinterpret_cast<WorkerParams*>(lParam);
    // Only the worker of the port in use counts; the window shows nothing.
    if (params == nullptr || params->run.load() == 0 || params->port != m_hPort) {
        return 0;
    }
    // A port lost before its machine answered is one that did not answer:
    // its reply deadline (or, past it, the next scan step) moves the scan
    // on, as for a silent port. Nor is the port of the last download news
    // once Program was pressed again: the first step closes it.
    if (m_replySeen == 0 || m_takePortList) {
        return 0;
    }
    m_pEvents->PortLost(ScanPortName());
    return 0;
}

void CDownloadDlg::ClosePortInUse() {
    if (!ClosePort(m_hPort)) {
        m_pEvents->PortNotClosed(m_portName, LastCloseError());
    }
    m_hPort = kNoPort;
}
