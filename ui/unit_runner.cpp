// Runs units' downloads through the main dialog, in a dialog nobody sees.
#include "ui/unit_runner.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "framework/window_thread.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "ui/download_dlg.h"

namespace {

// The ports present, as the system lists them, looked up at most once a
// second however many positions ask: on Windows a listing takes some
// milliseconds. Positions ask from their own threads.
std::vector<PortDescription> PresentPorts() {
    using Clock = std::chrono::steady_clock;
    static std::mutex lock;
    static std::vector<PortDescription> present;
    static std::optional<Clock::time_point> listedAt;
    std::lock_guard<std::mutex> g(lock);
    if (!listedAt || Clock::now() - *listedAt > std::chrono::seconds(1)) {
        present = DiscoverPorts();
        listedAt = Clock::now();
    }
    return present;
}

double SecondsSince(std::uint64_t t) {
    return static_cast<double>(AfxTickCount() - t) / 1000.0;
}

}  // namespace

bool UnitRunner::OnlyWaited() const {
    return !m_connected && (m_outcome.result == UnitResult::NoMachine ||
                            m_outcome.result == UnitResult::Interrupted);
}

std::unique_ptr<Unit> UnitRunner::Make(const UnitSettings& settings, std::vector<std::string> ports,
                                       const LoadedImage& image) {
    return std::make_unique<UnitRunner>(settings, std::move(ports), image);
}

UnitRunner::UnitRunner(const UnitSettings& settings, std::vector<std::string> ports,
                       const LoadedImage& image)
    : m_settings(settings), m_ports(std::move(ports)), m_image(image) {}

UnitRunner::~UnitRunner() {
    if (m_dlg) {
        m_dlg->SetEvents(nullptr);
        if (!AfxOnWindowThread() && AfxGetApp() && AfxGetApp()->m_pMainWnd == m_dlg.get()) {
            AfxGetApp()->m_pMainWnd = nullptr;
        }
    }
    m_dlg.reset();  // closes the port and ends its worker
}

void UnitRunner::Prepare() {
    m_dlg = std::make_unique<CDownloadDlg>();
    // The application's main window is the user-interface thread's: a
    // dialog on a window thread of its own never becomes it.
    if (!AfxOnWindowThread() && AfxGetApp() && AfxGetApp()->m_pMainWnd == nullptr) {
        AfxGetApp()->m_pMainWnd = m_dlg.get();
    }
    m_dlg->Create(FALSE);
    m_dlg->SetEvents(this);
    m_dlg->SetPorts(m_ports);  // none given: the platform's list
    // This position's own ports get its options: fast frames as asked,
    // and writes that give up at once when everything stops now.
    m_dlg->SetPortOptions(PortOptions{m_settings.fast, m_settings.abortFlag});
    // The window opens the machine type box only after a scan that found
    // nothing; here the type is given, so it is selected directly, as the
    // box tells the dialog of a choice.
    m_dlg->GetDlgItem(IDC_MACHINE_TYPE)
        ->SendMessage(CB_SETCURSEL, static_cast<WPARAM>(m_settings.type), 0);
    m_dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_MACHINE_TYPE, CBN_SELCHANGE), 0);
    m_dlg->LoadImage(m_image.bytes.data(), m_image.bytes.size());
    m_programReady = true;
}

void UnitRunner::Start(const UnitEvents& events) {
    m_events = events;
    m_connected = false;
    m_decided = false;
    m_outcome = UnitOutcome{};
    m_outcome.total = m_dlg->GetImageLength();
    m_start = m_lastActive = AfxTickCount();
    if (!m_programReady || m_patched) {
        // A unit that went silent, lost its port or was interrupted left
        // Program disabled, as the window does: load again, as the operator
        // would, from the bytes read at the start, so every unit gets the
        // image the records describe.
        m_dlg->LoadImage(m_image.bytes.data(), m_image.bytes.size());
        m_outcome.total = m_dlg->GetImageLength();
        m_patched = false;
    }
    m_nothingToTryUntil.reset();
    const std::vector<std::string> ports = ResolvePorts();
    if (!m_ports.empty() && ports.empty()) {
        // As long as a scan of one port that does not open takes.
        m_nothingToTryUntil = AfxTickCount() + 1000;
        return;
    }
    m_dlg->SetPorts(ports);
    m_programReady = false;
    m_dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PROGRAM, BN_CLICKED), 0);
}

std::vector<std::string> UnitRunner::ResolvePorts() {
    m_resolved.clear();
    const bool byAdapter = std::any_of(m_ports.begin(), m_ports.end(), [](const std::string& n) {
        return AdapterNameKind(n) != AdapterKey::None;
    });
    const std::vector<PortDescription> present =
        byAdapter ? PresentPorts() : std::vector<PortDescription>{};
    std::vector<std::string> devices;
    for (const std::string& name : m_ports) {
        ResolvedPort port;
        std::string error;
        if (!ResolvePortName(name, present, port, error)) {
            m_outcome.port = name;
            m_outcome.portName = name;
            m_nothingToTryReason = error;
            if (m_events.portTried) {
                m_events.portTried(name, PortOutcome::OpenFailed, error);
            }
            continue;
        }
        devices.push_back(port.device);
        m_resolved.emplace_back(name, std::move(port));
    }
    return devices;
}

void UnitRunner::Decide(UnitResult result, const std::string& reason) {
    if (m_decided) {
        return;
    }
    m_decided = true;
    if (m_connected) {
        DescribeAdapter();
    }
    m_outcome.result = result;
    m_outcome.reason = reason;
    m_outcome.seconds = SecondsSince(m_start);
    if (m_events.decided) {
        m_events.decided();
    }
}

void UnitRunner::DescribeAdapter() {
    const auto it = std::find_if(m_resolved.begin(), m_resolved.end(),
                                 [&](const auto& r) { return r.second.device == m_outcome.port; });
    m_outcome.portName = it != m_resolved.end() ? it->first : m_outcome.port;
    PortDescription known = it != m_resolved.end() ? it->second.present : PortDescription{};
    if (known.device.empty()) {
        // Named by its device: what the system says of it now.
        ResolvedPort port;
        std::string error;
        if (ResolvePortName(m_outcome.port, PresentPorts(), port, error)) {
            known = port.present;
        }
    }
    m_outcome.adapterSerial = known.serialNumber;
    m_outcome.adapterLocation = known.location;
}

bool UnitRunner::Finished() {
    if (!m_decided && m_nothingToTryUntil && AfxTickCount() >= *m_nothingToTryUntil) {
        m_programReady = true;
        Decide(UnitResult::NoMachine, m_nothingToTryReason);
    }
    if (!m_decided && m_connected) {
        if (SecondsSince(m_lastActive) > m_settings.timeoutSeconds) {
            Decide(UnitResult::Silent, "the machine answered, then fell silent");
        }
    }
    return m_decided;
}

void UnitRunner::Interrupt(const std::string& reason) {
    Decide(UnitResult::Interrupted, reason);
}

void UnitRunner::GiveUp() {
    Decide(UnitResult::Silent, "gave up after an hour");
}

UnitOutcome UnitRunner::Outcome() const {
    return m_outcome;
}

void UnitRunner::PatchImage(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
    m_dlg->PatchImage(offset, bytes.data(), bytes.size());
    m_patched = true;
}

std::vector<std::uint8_t> UnitRunner::ImageAsSent() const {
    const std::uint8_t* image = m_dlg->GetImage();
    return std::vector<std::uint8_t>(image, image + m_dlg->GetImageLength());
}

void UnitRunner::PortTried(const std::string& port, PortOutcome outcome,
                           const std::string& reason) {
    if (m_decided) {
        return;
    }
    if (!m_connected) {
        m_outcome.port = port;
    }
    if (m_events.portTried) {
        m_events.portTried(port, outcome, reason);
    }
}

void UnitRunner::ScanEnded() {
    m_programReady = true;
    Decide(UnitResult::NoMachine, "no machine answered on any port");
}

void UnitRunner::MachineAnswered(const std::string& port) {
    if (m_decided || m_connected) {
        return;
    }
    m_connected = true;
    m_outcome.port = port;
    m_lastActive = AfxTickCount();
    if (m_events.connected) {
        m_events.connected(port);
    }
}

void UnitRunner::BlockSent(std::uint32_t sent, std::uint32_t total, std::uint32_t repeats) {
    if (m_decided) {
        return;
    }
    m_lastActive = AfxTickCount();
    m_outcome.sent = sent;
    m_outcome.total = total;
    m_outcome.repeats = repeats;
    if (m_events.progress && m_connected) {
        m_events.progress(sent, total);
    }
}

void UnitRunner::DownloadEnded(const DownloadEnding& ending) {
    m_programReady = true;
    if (m_decided) {
        return;
    }
    m_outcome.sent = ending.sent;
    m_outcome.total = ending.total;
    switch (ending.how) {
        case DownloadEnd::Done:
            Decide(UnitResult::Done, "the whole image was sent");
            break;
        case DownloadEnd::StoppedByMachine:
            Decide(UnitResult::Stopped, "the machine sent the stop frame");
            break;
        case DownloadEnd::EndedEarly:
            Decide(UnitResult::EndedEarly, "the machine ended the download after " +
                                               std::to_string(ending.sent) + " of " +
                                               std::to_string(ending.total) + " bytes");
            break;
        case DownloadEnd::PortRefused:
            // A write given up because everything stops at once: the
            // interrupt ends the unit, not the port.
            if (m_settings.abortFlag && m_settings.abortFlag->load() != 0) {
                break;
            }
            Decide(UnitResult::PortRefused,
                   "the port did not take " + ending.what + ": " + ending.reason);
            break;
    }
}

void UnitRunner::PortLost(const std::string&) {
    Decide(UnitResult::PortLost, "the port was lost (device unplugged or closed)");
}

void UnitRunner::PortNotClosed(const std::string& port, const std::string& reason) {
    if (m_events.portNotClosed) {
        m_events.portNotClosed(port, reason);
    }
}
