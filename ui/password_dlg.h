// CPasswordDlg: asks for the supervisor's password before the station
// window's settings are unlocked, in a field that shows marks rather than
// what is typed. It only takes the text: the station window checks it
// against the station file's hash (station/password.h).
#pragma once

#include <string>

#include "framework/afxwin.h"
#include "ui/resource.h"

class CPasswordDlg : public CDialog {
  public:
    explicit CPasswordDlg(CWnd* pParent = nullptr);

    // What was typed, once OK ended the dialog.
    const std::string& Password() const { return m_password; }

  protected:
    void OnOK() override;

  private:
    std::string m_password;
};
