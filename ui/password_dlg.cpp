// The supervisor's password dialog; see password_dlg.h.
#include "ui/password_dlg.h"

CPasswordDlg::CPasswordDlg(CWnd* pParent) : CDialog(IDD_STATION_PASSWORD, pParent) {}

void CPasswordDlg::OnOK() {
    // Taken before the window goes, which takes its field with it.
    m_password = GetDlgItemText(IDC_PW_PASSWORD);
    SetDlgItemText(IDC_PW_PASSWORD, "");
    EndDialog(IDOK);
}
