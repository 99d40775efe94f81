// The application object: starts the process's own logic by running the
// main dialog.
#pragma once

#include "framework/afxwin.h"

class CDownloadApp : public CWinApp {
  public:
    BOOL InitInstance() override;
};

extern CDownloadApp theApp;
