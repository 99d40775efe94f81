// The main dialog: its message map, window start, system menu, painting
// while minimized, the drag icon, Exit and the machine type box.
#include "ui/download_dlg.h"

#include "serial/serial_port.h"
#include "ui/about_dlg.h"

BEGIN_MESSAGE_MAP(CDownloadDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_EXIT, OnExit)
ON_BN_CLICKED(IDC_LOAD_FILE, OnLoadFile)
ON_CBN_SELCHANGE(IDC_MACHINE_TYPE, OnMachineTypeChange)
ON_MESSAGE(WM_RXDATA, OnRxData)
ON_MESSAGE(WM_PORTLOST, OnPortLost)
ON_BN_CLICKED(IDC_PROGRAM, OnProgram)
ON_WM_TIMER()
END_MESSAGE_MAP()

CDownloadDlg::CDownloadDlg(CWnd* pParent) : CDialog(IDD_MAIN, pParent) {
    if (CWinApp* app = AfxGetApp()) {
        m_hIcon = app->LoadIcon(IDR_MAINFRAME);
    }
}

CDownloadDlg::~CDownloadDlg() {
    // The window is going: end the worker of a port still open, so that no
    // thread outlives the dialog it reports to.
    ClosePortInUse();
}

BOOL CDownloadDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* sysMenu = GetSystemMenu(FALSE)) {
        const std::string aboutMenu = AfxLoadString(IDS_ABOUTBOX);
        if (!aboutMenu.empty()) {
            sysMenu->AppendMenu(MF_SEPARATOR);
            sysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu.c_str());
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // The box is not sorted, so list position equals MachineType.
    CWnd* machineType = GetDlgItem(IDC_MACHINE_TYPE);
    for (const MachineTypeInfo& info : kMachineTypes) {
        machineType->SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info.name));
    }
    machineType->SendMessage(CB_SETCURSEL, 0);
    m_machineType = static_cast<MachineType>(machineType->SendMessage(CB_GETCURSEL));

    GetDlgItem(IDC_PROGRAM)->EnableWindow(FALSE);
    SetDlgItemInt(IDC_LENGTH, 0, FALSE);
    SetDlgItemInt(IDC_SEND_LENGTH, 0, FALSE);
    GetDlgItem(IDC_PROGRESS)->SendMessage(PBM_SETPOS, 0);

    m_hWorker = 0;
    m_blockCounter = 0;
    m_sentBytes = 0;
    return TRUE;
}

void CDownloadDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

// The window has no minimize box, but a minimized window still gets its
// icon drawn centred.
void CDownloadDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = AfxGetSystemMetrics(SM_CXICON);
    const int cyIcon = AfxGetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CDownloadDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// Ends the program, even mid-download; the destructor ends the worker.
void CDownloadDlg::OnExit() {
    DestroyWindow();
}

// Only a real selection counts; typing in the box's edit field changes nothing.
void CDownloadDlg::OnMachineTypeChange() {
    m_machineType =
        static_cast<MachineType>(GetDlgItem(IDC_MACHINE_TYPE)->SendMessage(CB_GETCURSEL));
}
