// The station's setup dialog; see station_setup_dlg.h.
#include "ui/station_setup_dlg.h"

#include <cstdlib>
#include <sstream>

#include "framework/afxdlgs.h"
#include "image/machine_types.h"
#include "serial/port_names.h"
#include "station/records.h"

namespace {

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return "";
    }
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string FormatSeconds(double seconds) {
    std::ostringstream out;
    out << seconds;
    return out.str();
}

}  // namespace

BEGIN_MESSAGE_MAP(CStationSetupDlg, CDialog)
ON_BN_CLICKED(IDC_SU_IMAGE_BROWSE, OnBrowseImage)
ON_BN_CLICKED(IDC_SU_RECORD_BROWSE, OnBrowseRecord)
ON_BN_CLICKED(IDC_SU_SAVE_AS, OnSaveAs)
END_MESSAGE_MAP()

CStationSetupDlg::CStationSetupDlg(const StationSettings& settings, CWnd* pParent)
    : CDialog(IDD_STATION_SETUP, pParent), m_settings(settings) {}

BOOL CStationSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CWnd* type = GetDlgItem(IDC_SU_TYPE);
    for (const MachineTypeInfo& info : kMachineTypes) {
        type->SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info.name));
    }
    type->SendMessage(CB_SETCURSEL, static_cast<WPARAM>(m_settings.type));
    SetDlgItemText(IDC_SU_IMAGE, m_settings.image.c_str());
    std::string ports;
    for (const std::string& port : m_settings.ports) {
        ports += (ports.empty() ? "" : " ") + port;
    }
    SetDlgItemText(IDC_SU_PORTS, ports.c_str());
    SetDlgItemText(IDC_SU_RECORD, m_settings.record.c_str());
    SetDlgItemText(IDC_SU_TIMEOUT, FormatSeconds(m_settings.timeoutSeconds).c_str());
    ShowImageHash();
    return TRUE;
}

void CStationSetupDlg::ShowImageHash() {
    const std::string path = Trim(GetDlgItemText(IDC_SU_IMAGE));
    if (path.empty()) {
        SetDlgItemText(IDC_SU_SHA, "");
        return;
    }
    LoadedImage image;
    std::string error;
    if (!ReadImage(path, image, error)) {
        SetDlgItemText(IDC_SU_SHA, ("cannot be read: " + error).c_str());
        return;
    }
    std::string text = image.sha256;
    if (!m_settings.sha256.empty() && m_settings.sha256 != image.sha256 &&
        path == m_settings.image) {
        text += " (not the one expected)";
    }
    SetDlgItemText(IDC_SU_SHA, text.c_str());
}

void CStationSetupDlg::OnBrowseImage() {
    const int type = static_cast<int>(GetDlgItem(IDC_SU_TYPE)->SendMessage(CB_GETCURSEL));
    const MachineTypeInfo* info = FindMachineType(static_cast<MachineType>(type < 0 ? 0 : type));
    const char* pattern = info ? info->filePattern : "*.*";
    CFileDialog dlg(TRUE, nullptr, pattern, OFN_HIDEREADONLY, pattern, this);
    if (dlg.DoModal() == IDOK) {
        SetDlgItemText(IDC_SU_IMAGE, dlg.GetPathName().c_str());
        ShowImageHash();
    }
}

void CStationSetupDlg::OnBrowseRecord() {
    CFileDialog dlg(FALSE, "jsonl", "units.jsonl", 0,
                    "Record files (*.jsonl)|*.jsonl|All files (*.*)|*.*||", this);
    if (dlg.DoModal() == IDOK) {
        SetDlgItemText(IDC_SU_RECORD, dlg.GetPathName().c_str());
    }
}

bool CStationSetupDlg::Collect(StationSettings& settings, std::string& error) {
    StationSettings s;
    // The station file's, not set here: kept as they are.
    s.limit = m_settings.limit;
    s.serial = m_settings.serial;
    s.requireScan = m_settings.requireScan;
    s.password = m_settings.password;
    const LRESULT type = GetDlgItem(IDC_SU_TYPE)->SendMessage(CB_GETCURSEL);
    s.type = type < 0 ? 0 : static_cast<int>(type);
    // Named whole, so that the station file and the station mean the same
    // files wherever either is opened from.
    const std::string folder = m_folder.empty() ? "." : m_folder;
    s.image = PathFrom(folder, Trim(GetDlgItemText(IDC_SU_IMAGE)));
    s.record = PathFrom(folder, Trim(GetDlgItemText(IDC_SU_RECORD)));
    std::string ports = GetDlgItemText(IDC_SU_PORTS);
    for (char& c : ports) {
        c = c == ',' || c == ';' || c == '\t' ? ' ' : c;
    }
    std::istringstream words(ports);
    for (std::string port; words >> port;) {
        s.ports.push_back(port);
    }
    const std::string timeout = Trim(GetDlgItemText(IDC_SU_TIMEOUT));
    char* end = nullptr;
    s.timeoutSeconds = std::strtod(timeout.c_str(), &end);
    if (timeout.empty() || end != timeout.c_str() + timeout.size() ||
        !(s.timeoutSeconds >= kMinTimeoutSeconds) || s.timeoutSeconds > kMaxTimeoutSeconds) {
        error = std::string("The silence timeout must be ") + kTimeoutRangeWords + ".";
        return false;
    }
    if (s.image.empty()) {
        error = "Choose the image to program.";
        return false;
    }
    LoadedImage image;
    if (!ReadImage(s.image, image, error)) {
        error = "The image " + s.image + " cannot be read: " + error;
        return false;
    }
    // The pinned SHA-256 changes only when the operator says so, having
    // seen both: another image is never taken on by saving other settings.
    if (!m_settings.sha256.empty() && image.sha256 != m_settings.sha256 &&
        AfxMessageBox("Pin another image?\n\nThe station programs only the image whose SHA-256 "
                      "is pinned, and " +
                          s.image + " is not that image.\n\nPinned now:\n" + m_settings.sha256 +
                          "\n\nThis image's:\n" + image.sha256 +
                          "\n\nPin this image's SHA-256 instead? Every unit is then programmed "
                          "with it.",
                      MB_YESNO | MB_ICONWARNING) != IDYES) {
        error.clear();  // the operator's answer: nothing more to say
        return false;
    }
    s.sha256 = image.sha256;
    // No port for two positions, however it is spelt (COM3, com3 and
    // \\.\COM3 on Windows). Said by position here: the lines of the
    // file checked below would mean nothing to the operator.
    for (std::size_t later = 1; later < s.ports.size(); ++later) {
        const std::string key = PortNameKey(s.ports[later]);
        for (std::size_t first = 0; first < later; ++first) {
            if (PortNameKey(s.ports[first]) == key) {
                error = "Position " + std::to_string(later + 1) + "'s port " + s.ports[later] +
                        " is position " + std::to_string(first + 1) + "'s port " + s.ports[first] +
                        ": give each position a port of its own.";
                return false;
            }
        }
    }
    // The station file's own rules (ports 1 to 16, none twice, values it
    // can hold) decide what makes a station.
    StationSettings check;
    if (!ParseStationFile(FormatStationFile(s), check, error)) {
        error = "These settings do not make a station: " + error;
        return false;
    }
    settings = s;
    return true;
}

void CStationSetupDlg::OnOK() {
    std::string error;
    StationSettings s;
    if (!Collect(s, error)) {
        if (!error.empty()) {
            AfxMessageBox(error, MB_OK | MB_ICONERROR);
        }
        return;
    }
    m_settings = s;
    EndDialog(IDOK);
}

void CStationSetupDlg::OnSaveAs() {
    std::string error;
    StationSettings s;
    if (!Collect(s, error)) {
        if (!error.empty()) {
            AfxMessageBox(error, MB_OK | MB_ICONERROR);
        }
        return;
    }
    CFileDialog dlg(FALSE, "station", "line.station", OFN_OVERWRITEPROMPT,
                    "Station files (*.station)|*.station|All files (*.*)|*.*||", this);
    if (dlg.DoModal() != IDOK) {
        return;
    }
    if (!WriteStationFile(dlg.GetPathName(), s, error)) {
        AfxMessageBox("The station file could not be written:\n\n" + error, MB_OK | MB_ICONERROR);
        return;
    }
    m_settings = s;
    m_savedPath = dlg.GetPathName();
}
