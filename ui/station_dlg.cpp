// The station window; see station_dlg.h.
#include "ui/station_dlg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "image/machine_types.h"
#include "station/position_words.h"
#include "station/records.h"
#include "ui/station_layout.h"
#include "ui/unit_runner.h"

namespace {

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

BEGIN_MESSAGE_MAP(CStationDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_TIMER()
ON_BN_CLICKED(IDC_ST_START, OnStart)
ON_BN_CLICKED(IDC_ST_STOP, OnStop)
ON_BN_CLICKED(IDC_ST_SETTINGS, OnSettings)
ON_BN_CLICKED(IDC_ST_EXIT, OnCancel)
END_MESSAGE_MAP()

CStationDlg::CStationDlg(const StationSettings& settings, std::string filePath, bool locked,
                         CWnd* pParent)
    : CDialog(static_cast<UINT>(IDD_STATION + std::clamp(static_cast<int>(settings.ports.size()), 1,
                                                         kMaxStationPanels)),
              pParent),
      m_settings(settings),
      m_filePath(std::move(filePath)),
      m_locked(locked),
      m_scan(std::min<std::size_t>(settings.ports.size(), kMaxStationPanels)) {
    m_settings.ports.resize(std::min<std::size_t>(m_settings.ports.size(), kMaxStationPanels));
    if (CWinApp* app = AfxGetApp()) {
        m_hIcon = app->LoadIcon(IDR_MAINFRAME);
    }
}

CStationDlg::~CStationDlg() {
    if (m_station) {
        // Units under way when the window goes without asking (a signal
        // ended the program): stopped at once, and recorded as such.
        m_station->StopNow();
        m_station.reset();
    }
}

BOOL CStationDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (CMenu* menu = GetSystemMenu(FALSE)) {
        menu->AppendMenu(MF_SEPARATOR);
        menu->AppendMenu(MF_STRING, IDM_UNLOCK, "Unlock Settings...");
        menu->AppendMenu(MF_STRING, IDM_LOCK, "Lock Settings");
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    SetWindowText(m_filePath.empty() ? "Download Station"
                                     : ("Download Station - " + FileNameOf(m_filePath)).c_str());

    for (std::size_t i = 0; i < m_settings.ports.size(); ++i) {
        const int index = static_cast<int>(i);
        GetDlgItem(PanelControlId(index, PANEL_PROGRESS))
            ->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SetDlgItemText(PanelControlId(index, PANEL_BOX),
                       ("Position " + std::to_string(i + 1)).c_str());
    }

    // What the station programs: the image as read now is what every unit
    // gets and what the records describe.
    StationRefusal refusal;
    m_station = OpenStation(m_settings, m_image, &UnitRunner::Make,
                            static_cast<StationEvents*>(this), {}, refusal);
    if (m_station) {
        m_ready = true;
        if (m_image.Cut()) {
            m_notices.push_back("The image " + m_settings.image + " has " +
                                std::to_string(m_image.fileSize) + " bytes; only its first " +
                                std::to_string(m_image.bytes.size()) + " are programmed.");
        }
    } else if (refusal.kind == StationRefusal::Kind::Image) {
        m_notices.push_back("The image " + m_settings.image + " cannot be read:\n\n" +
                            refusal.error + "\n\nThe station cannot start.");
    } else if (refusal.kind == StationRefusal::Kind::WrongImage) {
        m_notices.push_back("The image " + m_settings.image +
                            " is not the one this station programs.\n\nExpected SHA-256:\n" +
                            refusal.expected + "\n\nThe image's SHA-256:\n" + refusal.actual +
                            "\n\nThe station cannot start.");
    } else if (refusal.kind == StationRefusal::Kind::Serials) {
        m_notices.push_back("The serial numbers cannot be written into the image " +
                            m_settings.image + ":\n\n" + refusal.error +
                            "\n\nThe station cannot start.");
    } else {
        m_notices.push_back("The record file cannot be used:\n\n" + refusal.error +
                            "\n\nThe station cannot start.");
    }
    if (!m_station) {
        // Panels with their ports and nothing else, for a station that
        // cannot start.
        m_station = std::make_unique<Station>(m_settings, m_image, &UnitRunner::Make,
                                              static_cast<StationEvents*>(this));
    }
    m_dirty.assign(m_settings.ports.size(), true);
    ShowHeader();
    for (std::size_t i = 0; i < m_dirty.size(); ++i) {
        ShowPanel(i);
    }
    ShowTotals();
    ShowButtons();

    SetDlgItemText(IDC_ST_SCAN_NOTE, "Scan a position's label, then its unit's.");
    GetDlgItem(IDC_ST_SCAN)->SetFocus();  // where the scanner types

    m_lastTick = AfxTickCount();
    SetTimer(TIMER_STATION, kStationTickMs);
    if (!m_notices.empty() || (m_startAtOnce && m_ready)) {
        SetTimer(TIMER_NOTICE, 10);  // once the window is up
    }
    return FALSE;  // the focus is on the scan field
}

void CStationDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == TIMER_NOTICE) {
        KillTimer(TIMER_NOTICE);
        if (m_startAtOnce && m_ready) {
            m_startAtOnce = false;
            OnStart();
        }
        ShowNotices();
        return;
    }
    if (nIDEvent == TIMER_PASSWORD) {
        KillTimer(TIMER_PASSWORD);
        m_refusing = false;
        AfxMessageBox("That is not the supervisor's password: the settings stay locked.",
                      MB_OK | MB_ICONERROR);
        return;
    }
    if (nIDEvent != TIMER_STATION) {
        CDialog::OnTimer(nIDEvent);
        return;
    }
    NoteLateness(AfxTickCount());
    m_station->Step();
    ShowChanged();
    if (m_closing && !m_station->Running()) {
        m_closing = false;
        EndDialog(m_rebuild ? kRebuild : IDCANCEL);
        return;
    }
    ShowNotices();
}

void CStationDlg::ShowChanged() {
    for (std::size_t i = 0; i < m_dirty.size(); ++i) {
        if (m_dirty[i]) {
            ShowPanel(i);
        }
    }
    if (m_totalsDirty) {
        ShowTotals();
    }
    if (m_buttonsDirty) {
        ShowButtons();
    }
}

void CStationDlg::NoteLateness(std::uint64_t now) {
    const std::uint64_t due = m_lastTick + kStationTickMs;
    const std::uint64_t late = now > due ? now - due : 0;
    m_lastTick = now;
    const std::size_t bin = std::min<std::uint64_t>(late, m_lateness.size() - 1);
    ++m_lateness[bin];
    ++m_ticks;
    m_latenessMax = std::max<std::uint32_t>(
        m_latenessMax, static_cast<std::uint32_t>(std::min<std::uint64_t>(late, ~0u)));
}

std::uint32_t CStationDlg::LatenessP99() const {
    std::uint64_t total = 0;
    for (const std::uint32_t n : m_lateness) {
        total += n;
    }
    std::uint64_t seen = 0;
    for (std::size_t ms = 0; ms < m_lateness.size(); ++ms) {
        seen += m_lateness[ms];
        if (total > 0 && seen * 100 >= total * 99) {
            return static_cast<std::uint32_t>(ms);
        }
    }
    return 0;
}

void CStationDlg::ShowNotices() {
    // One at a time: timers go on while a message box is up, and may add
    // another.
    while (!m_showingNotice && !m_notices.empty()) {
        const std::string text = m_notices.front();
        m_notices.erase(m_notices.begin());
        m_showingNotice = true;
        AfxMessageBox(text, MB_OK | MB_ICONERROR);
        m_showingNotice = false;
    }
}

void CStationDlg::PositionChanged(std::size_t index) {
    if (index < m_dirty.size()) {
        m_dirty[index] = true;
    }
    m_totalsDirty = true;
    m_buttonsDirty = true;
}

void CStationDlg::RunningChanged(bool) {
    m_buttonsDirty = true;
}

void CStationDlg::RecordFailed(const std::string& message) {
    m_notices.push_back(message +
                        "\n\nThat unit is shown as HOLD and is not counted: set it aside. The "
                        "station is stopping: the units under way finish, and no further unit "
                        "is started.\n\nMend the record file (free the disk, or give its "
                        "folder back), then press Start: the records held are written first.");
    m_buttonsDirty = true;
}

void CStationDlg::LimitReached() {
    m_notices.push_back("The station has programmed its limit of " +
                        std::to_string(m_settings.limit) +
                        " units: it is stopping. The units under way finish, and no further "
                        "unit is started.");
    m_totalsDirty = true;
}

void CStationDlg::SerialsUsedUp() {
    m_notices.push_back("The serial numbers are used up: the last, " +
                        std::to_string(m_settings.serial.last) +
                        ", has been given. The units under way finish; no further unit is "
                        "started. Give the station a new range to go on.");
}

void CStationDlg::ShowHeader() {
    const MachineTypeInfo* type = FindMachineType(static_cast<MachineType>(m_settings.type));
    SetDlgItemText(IDC_ST_TYPE, ("Machine type: " + std::string(type ? type->name : "?")).c_str());
    std::string image = "Image: " + FileNameOf(m_settings.image);
    if (!m_image.sha256.empty()) {
        image += "    " + std::to_string(m_image.bytes.size()) + " bytes    SHA-256 " +
                 m_image.sha256.substr(0, 16);
    }
    SetDlgItemText(IDC_ST_IMAGE, image.c_str());
    std::string file =
        m_filePath.empty() ? "Not saved as a station file" : "Station file: " + m_filePath;
    file += m_locked ? " (locked)" : " (unlocked)";
    SetDlgItemText(IDC_ST_FILE, file.c_str());
    ShowRecordFile();
}

void CStationDlg::ShowRecordFile() {
    m_shownUnreadable = m_station ? m_station->UnreadableRecords() : 0;
    std::string record = m_settings.record.empty()
                             ? "No record file: units are counted, not recorded"
                             : "Records: " + m_settings.record;
    if (m_shownUnreadable > 0) {
        record +=
            "    (" + Plural(m_shownUnreadable, "line", "lines") + " cannot be read: not counted)";
    }
    SetDlgItemText(IDC_ST_RECORD, record.c_str());
}

void CStationDlg::ShowPanel(std::size_t index) {
    m_dirty[index] = false;
    const PositionView& v = m_station->Positions()[index];
    const int i = static_cast<int>(index);
    std::string port = "Port: " + v.port;
    if (!v.adapterSerial.empty() && v.port.find(v.adapterSerial) == std::string::npos) {
        port += "    Adapter: " + v.adapterSerial;
    }
    SetDlgItemText(PanelControlId(i, PANEL_PORT), port.c_str());
    SetDlgItemText(PanelControlId(i, PANEL_STATE), StateWords(v).c_str());
    const bool programming =
        v.state == PositionState::Programming || v.state == PositionState::Finishing;
    GetDlgItem(PanelControlId(i, PANEL_PROGRESS))
        ->SendMessage(PBM_SETPOS, static_cast<WPARAM>(programming ? v.percent : 0));
    SetDlgItemText(PanelControlId(i, PANEL_PERCENT),
                   programming ? (std::to_string(v.percent) + " %").c_str() : "");
    SetDlgItemText(PanelControlId(i, PANEL_RESULT), VerdictWord(v).c_str());
    SetDlgItemText(PanelControlId(i, PANEL_REASON), ReasonWords(v).c_str());
    SetDlgItemText(PanelControlId(i, PANEL_COUNTS),
                   ("Passed " + std::to_string(v.counts.passed) + "    Failed " +
                    std::to_string(v.counts.failed))
                       .c_str());
}

void CStationDlg::ShowTotals() {
    m_totalsDirty = false;
    if (m_station->UnreadableRecords() != m_shownUnreadable) {
        ShowRecordFile();
    }
    const PositionCounts total = m_station->Totals();
    std::string totals = "Today: " + std::to_string(total.passed) + " passed, " +
                         std::to_string(total.failed) + " failed";
    if (m_settings.limit > 0) {
        totals += "    " + std::to_string(m_station->DoneInFile()) + " of " +
                  std::to_string(m_settings.limit) + " done";
    }
    SetDlgItemText(IDC_ST_TOTALS, totals.c_str());
}

void CStationDlg::ShowButtons() {
    m_buttonsDirty = false;
    const bool running = m_station->Running();
    GetDlgItem(IDC_ST_START)->EnableWindow(m_ready && !running && !m_closing);
    GetDlgItem(IDC_ST_STOP)->EnableWindow(running);
    const char* stop =
        m_station->Stopping() && m_station->UnitsUnderWay() > 0 ? "Stop Now..." : "Stop";
    if (GetDlgItemText(IDC_ST_STOP) != stop) {
        SetDlgItemText(IDC_ST_STOP, stop);
    }
    GetDlgItem(IDC_ST_SETTINGS)->EnableWindow(!m_locked && !running && !m_closing);
}

void CStationDlg::OnStart() {
    if (!m_ready || m_station->Running() || m_closing) {
        return;
    }
    // A record that failed is said before anything starts again.
    ShowNotices();
    if (std::string error; !m_station->Start(error)) {
        m_notices.push_back(
            "The station cannot start: the units whose records could not be "
            "written are still not recorded.\n\n" +
            error +
            "\n\nMend the record file (free the disk, or give its folder "
            "back), then press Start again.");
        ShowNotices();
    }
    ShowChanged();
    GetDlgItem(IDC_ST_SCAN)->SetFocus();
}

void CStationDlg::OnStop() {
    if (!m_station->Running()) {
        return;
    }
    if (!m_station->Stopping() || m_station->UnitsUnderWay() == 0) {
        m_station->Stop();
    } else {
        const int n = m_station->UnitsUnderWay();
        if (AfxMessageBox("Stop " + Plural(n, "unit", "units") +
                              " being programmed now?\n\nA unit stopped now is recorded as "
                              "interrupted, and is not programmed.",
                          MB_YESNO | MB_ICONWARNING) == IDYES) {
            m_station->StopNow();
        }
    }
    ShowChanged();
}

void CStationDlg::OnCancel() {
    if (m_closing) {
        return;
    }
    if (!m_station->Running()) {
        EndDialog(IDCANCEL);
        return;
    }
    const int n = m_station->UnitsUnderWay();
    if (n == 0) {
        CloseWhenStopped(false);
        return;
    }
    if (AfxMessageBox(Plural(n, "unit is", "units are") +
                          " being programmed.\n\nStop now and close the station? A unit "
                          "stopped now is recorded as interrupted, and is not programmed.",
                      MB_YESNO | MB_ICONWARNING) == IDYES) {
        CloseWhenStopped(true);
    }
}

void CStationDlg::CloseWhenStopped(bool atOnce) {
    atOnce ? m_station->StopNow() : m_station->Stop();
    if (!m_station->Running()) {
        EndDialog(IDCANCEL);
        return;
    }
    // The rest ends at a tick; stopping at once is bounded by each port's
    // write bound.
    m_closing = true;
    ShowChanged();
}
