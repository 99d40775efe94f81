// The application object: starts the process's own logic by running the
// main dialog.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/afxwin.h"

class CDownloadApp : public CWinApp {
  public:
    BOOL InitInstance() override;

    // The ports the main dialog's Program tries (CDownloadDlg::SetPorts);
    // none, the default, is the platform's list. Set before the dialog runs.
    void SetPorts(std::vector<std::string> names) { m_ports = std::move(names); }

  private:
    std::vector<std::string> m_ports;
};

extern CDownloadApp theApp;
