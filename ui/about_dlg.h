// The About box: caption, version line, notice and OK. No handlers of its own.
#pragma once

#include "framework/afxwin.h"
#include "ui/resource.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
    enum { IDD = IDD_ABOUTBOX };

    DECLARE_MESSAGE_MAP()
};
