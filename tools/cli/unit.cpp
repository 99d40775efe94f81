// Runs one unit's download through the main dialog on the headless framework.
#include "tools/cli/unit.h"

#include <chrono>
#include <tuple>

#include "framework/headless/headless.h"
#include "serial/serial_port.h"
#include "ui/download_dlg.h"
#include "ui/status_texts.h"

namespace {

using RealClock = std::chrono::steady_clock;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

double SecondsSince(RealClock::time_point t) {
    return std::chrono::duration<double>(RealClock::now() - t).count();
}

}  // namespace

const char* ResultName(UnitResult r) {
    switch (r) {
        case UnitResult::Done:
            return "done";
        case UnitResult::NoMachine:
            return "no machine";
        case UnitResult::Stopped:
            return "stopped";
        case UnitResult::Silent:
            return "silent";
        case UnitResult::PortLost:
            return "port lost";
    }
    return "?";
}

UnitRunner::UnitRunner(const CliOptions& options) : m_options(options) {}

UnitRunner::~UnitRunner() {
    headless::OnControlChanged(nullptr);
    m_dlg.reset();  // closes the port and ends its worker
}

std::uint32_t UnitRunner::ImageLength() const {
    return m_dlg ? m_dlg->GetImageLength() : 0;
}

bool UnitRunner::Prepare(std::string& error) {
    if (!m_options.ports.empty()) {
        SetPortList(m_options.ports);
    }
    m_dlg = std::make_unique<CDownloadDlg>();
    if (AfxGetApp()) {
        AfxGetApp()->m_pMainWnd = m_dlg.get();
    }
    m_dlg->Create();
    // The window opens the machine type box only after a scan that found
    // nothing; on the command line the type is given, so select it directly.
    CWnd* box = m_dlg->GetDlgItem(IDC_MACHINE_TYPE);
    box->EnableWindow(TRUE);
    headless::SelectComboItem(*m_dlg, IDC_MACHINE_TYPE, m_options.type);
    box->EnableWindow(FALSE);
    return LoadImage(error);
}

bool UnitRunner::LoadImage(std::string& error) {
    const std::string path = m_options.image;
    headless::ClearMessageBoxes();
    headless::ScriptFileDialog([path](const CFileDialog&) { return path; });
    headless::Click(*m_dlg, IDC_LOAD_FILE);
    const auto boxes = headless::MessageBoxes();
    if (!boxes.empty()) {
        error = boxes.back();
        return false;
    }
    return true;
}

UnitOutcome UnitRunner::Run(const UnitEvents& events) {
    CDownloadDlg& dlg = *m_dlg;
    UnitOutcome outcome;
    outcome.total = dlg.GetImageLength();
    const auto start = RealClock::now();

    // Program is available after a load; a unit that went silent left it
    // disabled, as the window does, so load again.
    if (!dlg.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled()) {
        std::string error;
        LoadImage(error);
    }

    std::string lastStatus;
    bool connected = false;
    bool opened = false;  // this unit's scan has opened a port
    std::string port;
    headless::OnControlChanged([&](CWnd& d, int id) {
        if (id == IDC_SEND_LENGTH && events.progress && connected) {
            events.progress(dlg.GetSentBytes(), dlg.GetImageLength());
        }
        if (id != IDC_STATUS) {
            return;
        }
        const std::string status = d.GetDlgItemText(IDC_STATUS);
        if (status == lastStatus) {
            return;
        }
        lastStatus = status;
        for (const auto& [tail, what] : {std::pair{std::string(kStatusOpenFail), "open failed"},
                                         std::pair{std::string(kStatusOpenSuccess), "opened"},
                                         std::pair{std::string(kStatusConnectFail), "no answer"}}) {
            if (EndsWith(status, tail)) {
                port = status.substr(0, status.size() - tail.size());
                opened = opened || tail == kStatusOpenSuccess;
                if (events.portTried) {
                    events.portTried(port, what, tail == kStatusOpenFail ? LastOpenError() : "");
                }
            }
        }
    });

    headless::Click(dlg, IDC_PROGRAM);

    // Activity: anything the machine made the host do.
    auto activity = [&] {
        return std::make_tuple(dlg.GetSentBytes(), dlg.GetBlockCounter(),
                               static_cast<int>(dlg.GetCharState()), dlg.GetRepeatedRequests());
    };
    auto lastSeen = activity();
    auto lastActive = RealClock::now();
    const auto timeout = std::chrono::duration<double>(m_options.timeoutSeconds);

    auto finished = [&]() -> bool {
        const bool programEnabled = dlg.GetDlgItem(IDC_PROGRAM)->IsWindowEnabled();
        const bool typeBoxEnabled = dlg.GetDlgItem(IDC_MACHINE_TYPE)->IsWindowEnabled();
        // Until the scan opens a port, the dialog's reply flag still tells
        // of the previous unit's machine.
        if (!connected && opened && dlg.GetReplySeen()) {
            connected = true;
            outcome.port = port;
            lastActive = RealClock::now();
            if (events.connected) {
                events.connected(port);
            }
        }
        if (typeBoxEnabled) {
            outcome.result = UnitResult::NoMachine;
            outcome.reason = "no machine answered on any port";
            return true;
        }
        if (programEnabled) {
            const bool all = dlg.GetSentBytes() >= dlg.GetImageLength();
            outcome.result = all ? UnitResult::Done : UnitResult::Stopped;
            outcome.reason = all ? "the whole image was sent" : "the machine sent the stop frame";
            return true;
        }
        if (connected && PortIsLost(dlg.GetPort())) {
            outcome.result = UnitResult::PortLost;
            outcome.reason = "the port was lost (device unplugged or closed)";
            return true;
        }
        const auto now = activity();
        if (now != lastSeen) {
            lastSeen = now;
            lastActive = RealClock::now();
        } else if (connected && RealClock::now() - lastActive > timeout) {
            outcome.result = UnitResult::Silent;
            outcome.reason = "the machine answered, then fell silent";
            return true;
        }
        return false;
    };
    // The scan is bounded by the port list (two seconds a port at most); the
    // download by the silence timeout. The outer limit is a safety net.
    const std::uint64_t limitMs = 3600 * 1000;
    if (!headless::RunInRealTime(finished, limitMs)) {
        outcome.result = UnitResult::Silent;
        outcome.reason = "gave up after an hour";
    }
    headless::OnControlChanged(nullptr);
    outcome.sent = dlg.GetSentBytes();
    outcome.repeats = dlg.GetRepeatedRequests();
    outcome.seconds = SecondsSince(start);
    if (outcome.port.empty()) {
        outcome.port = port;
    }
    return outcome;
}
