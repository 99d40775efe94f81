// The station window's settings: the lock on them and the supervisor's
// password, the settings dialog, and the scanner's field; see
// station_dlg.h.
#include "ui/station_dlg.h"

#include "station/computer_name.h"
#include "station/password.h"
#include "ui/password_dlg.h"
#include "ui/station_setup_dlg.h"

void CStationDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_LOCK) {
        if (m_locked) {
            AfxMessageBox("The settings are locked already.", MB_OK);
            return;
        }
        SetLocked(true);
        RecordEvent(kEventLocked);
        return;
    }
    if ((nID & 0xFFF0) != IDM_UNLOCK) {
        CDialog::OnSysCommand(nID, lParam);
        return;
    }
    if (!m_locked) {
        AfxMessageBox("The settings are unlocked already.", MB_OK);
        return;
    }
    if (!m_settings.password.empty()) {
        // While a wrong password waits for its refusal, no other is taken.
        if (!m_refusing) {
            AskPassword();
        }
        return;
    }
    const std::string where =
        m_filePath.empty() ? std::string() : " Every change is written to " + m_filePath + ".";
    if (AfxMessageBox("Unlock the station's settings?\n\nThe machine type, the image and the "
                      "ports may then be changed with Settings." +
                          where,
                      MB_YESNO | MB_ICONWARNING) == IDYES) {
        SetLocked(false);
        RecordEvent(kEventUnlocked, {{"with", "confirmation"}});
    }
}

void CStationDlg::AskPassword() {
    PasswordHash hash;
    std::string error;
    if (!ParsePasswordHash(m_settings.password, hash, error)) {
        // The station file's reader refuses such a file; kept as a guard.
        AfxMessageBox(
            "The station file's supervisor password " + error + ".\n\nThe settings stay locked.",
            MB_OK | MB_ICONERROR);
        return;
    }
    CPasswordDlg ask(this);
    if (ask.DoModal() != IDOK) {
        return;
    }
    switch (CheckPassword(ask.Password(), hash, error)) {
        case PasswordCheck::Right:
            SetLocked(false);
            RecordEvent(kEventUnlocked, {{"with", "password"}});
            return;
        case PasswordCheck::Wrong:
            // Refused once the delay is over; the positions go on meanwhile.
            RecordEvent(kEventWrongPassword);
            m_refusing = true;
            SetTimer(TIMER_PASSWORD, kWrongPasswordMs);
            return;
        case PasswordCheck::Failed:
            AfxMessageBox(
                "The password could not be checked:\n\n" + error + "\n\nThe settings stay locked.",
                MB_OK | MB_ICONERROR);
            return;
    }
}

void CStationDlg::SetLocked(bool locked) {
    m_locked = locked;
    ShowHeader();
    ShowButtons();
}

void CStationDlg::RecordEvent(const char* event, std::vector<EventDetail> details) {
    if (!m_filePath.empty()) {
        details.push_back({"station_file", m_filePath});
    }
    std::string error;
    if (!m_station->AppendEvent(EventLine(StationName(), event, details), error)) {
        m_notices.push_back(std::string("The record file did not take the event \"") + event +
                            "\":\n\n" + error);
        ShowNotices();
    }
}

void CStationDlg::OnSettings() {
    if (m_locked || m_station->Running()) {
        return;
    }
    CStationSetupDlg setup(m_settings, this);
    if (!m_filePath.empty()) {
        setup.SetFolder(FolderOf(m_filePath));
    }
    if (setup.DoModal() != IDOK) {
        return;
    }
    std::string path = setup.SavedPath().empty() ? m_filePath : setup.SavedPath();
    if (!path.empty()) {
        std::string error;
        if (!WriteStationFile(path, setup.Settings(), error)) {
            AfxMessageBox("The settings could not be written to the station file:\n\n" + error,
                          MB_OK | MB_ICONERROR);
            return;
        }
    }
    const std::vector<EventDetail> changes = SettingsChanges(m_settings, setup.Settings());
    m_settings = setup.Settings();
    m_filePath = path;
    if (!changes.empty()) {
        RecordEvent(kEventSettingsChanged, changes);
    }
    m_rebuild = true;
    EndDialog(kRebuild);
}

// Enter: in the scan field, the scanner's line has ended.
void CStationDlg::OnOK() {
    TakeScan();
}

void CStationDlg::TakeScan() {
    const std::string text = GetDlgItemText(IDC_ST_SCAN);
    SetDlgItemText(IDC_ST_SCAN, "");
    GetDlgItem(IDC_ST_SCAN)->SetFocus();
    if (text.find_first_not_of(" \t\r") == std::string::npos) {
        return;
    }
    const ScanReader::Scan scan = m_scan.Take(text);
    const std::string position = "Position " + std::to_string(scan.position + 1);
    std::string note;
    switch (scan.kind) {
        case ScanReader::Scan::Kind::PositionChosen:
            note = position + ": now scan its unit's label";
            break;
        case ScanReader::Scan::Kind::UnitId: {
            std::string error;
            note = m_station->BindUnitId(scan.position, scan.text, error)
                       ? position + ": unit " + scan.text
                       : "Refused: " + error + " (scan the position's label again)";
            break;
        }
        case ScanReader::Scan::Kind::Refused:
            note = "Refused: " + scan.text;
            break;
    }
    SetDlgItemText(IDC_ST_SCAN_NOTE, note.c_str());
}
