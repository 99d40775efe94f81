// The application object and its start routine.
#include "app/download_app.h"

#include "ui/download_dlg.h"

CDownloadApp theApp;

BOOL CDownloadApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    // The dialog, image buffer included, lives on this frame until the end.
    CDownloadDlg dlg;
    dlg.SetPorts(m_ports);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // FALSE: end the application rather than enter a message loop.
    return FALSE;
}
