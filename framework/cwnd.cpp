// Backend-independent parts of the framework: message-map routing, control
// helpers addressed by id, how a dialog ended, the dialog's default commands
// and the start of the application.
#include <cstdlib>
#include <string>

#include "framework/afxdlgs.h"
#include "framework/afxfile.h"
#include "framework/afxwin.h"
#include "framework/window_data.h"

namespace {

const AFX_MSGMAP* EmptyBaseMap() {
    return nullptr;
}

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, UINT message, WPARAM wParam) {
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage != message) {
                continue;
            }
            if (message == WM_COMMAND && (e->nCode != HIWORD(wParam) || e->nID != LOWORD(wParam))) {
                continue;
            }
            return e;
        }
    }
    return nullptr;
}

CWinApp* g_app = nullptr;

}  // namespace

// --- CWnd -------------------------------------------------------------------

const AFX_MSGMAP* CWnd::GetStaticMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {&EmptyBaseMap, entries};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetStaticMessageMap();
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // Remember the message so that Default() can pass it on; save the outer
    // one, since handlers may send messages of their own.
    const UINT savedMessage = m_currentMessage;
    const WPARAM savedWParam = m_currentWParam;
    const LPARAM savedLParam = m_currentLParam;
    m_currentMessage = message;
    m_currentWParam = wParam;
    m_currentLParam = lParam;

    LRESULT result = 0;
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), message, wParam)) {
        if (message == WM_COMMAND) {
            // A file error escaping a command ends the command, reported in
            // a message box.
            try {
                result = entry->pfn(this, wParam, lParam);
            } catch (const CFileException& e) {
                e.ReportError();
            }
        } else {
            result = entry->pfn(this, wParam, lParam);
        }
    } else {
        result = DefWindowProc(message, wParam, lParam);
    }

    m_currentMessage = savedMessage;
    m_currentWParam = savedWParam;
    m_currentLParam = savedLParam;
    return result;
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_currentMessage, m_currentWParam, m_currentLParam);
}

int CWnd::GetDlgCtrlID() const {
    return m_nID;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    for (const auto& control : Data().controls) {
        if (control->m_nID == nID) {
            return control.get();
        }
    }
    return nullptr;
}

void CWnd::SetDlgItemText(int nID, LPCTSTR text) {
    if (CWnd* item = GetDlgItem(nID)) {
        item->SetWindowText(text);
    }
}

std::string CWnd::GetDlgItemText(int nID) const {
    CWnd* item = GetDlgItem(nID);
    return item ? item->GetWindowText() : std::string();
}

void CWnd::SetDlgItemInt(int nID, UINT value, BOOL bSigned) {
    const std::string text =
        bSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    SetDlgItemText(nID, text.c_str());
}

UINT CWnd::GetDlgItemInt(int nID, BOOL* translated, BOOL bSigned) const {
    const std::string text = GetDlgItemText(nID);
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    const bool ok =
        !text.empty() && end && *end == '\0' && (bSigned || value >= 0) && value <= 0xFFFFFFFFLL;
    if (translated) {
        *translated = ok ? TRUE : FALSE;
    }
    return ok ? static_cast<UINT>(value) : 0;
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

std::optional<int> EndedWith(const CWnd& dialog) {
    const WindowData& w = dialog.Data();
    return w.ended ? std::optional<int>(w.result) : std::nullopt;
}

// --- CMenu ------------------------------------------------------------------

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR text) {
    m_items.push_back({nFlags, nIDNewItem, text ? text : ""});
    return m_pfnAppend ? m_pfnAppend(this, m_items.back()) : TRUE;
}

// --- CDialog ----------------------------------------------------------------

const AFX_MSGMAP* CDialog::GetStaticMessageMap() {
    return GetThisMessageMap();
}
const AFX_MSGMAP* CDialog::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP* CDialog::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{WM_COMMAND, BN_CLICKED, IDOK,
                                                [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                                                    static_cast<CDialog*>(w)->OnOK();
                                                    return 0;
                                                }},
                                               {WM_COMMAND, BN_CLICKED, IDCANCEL,
                                                [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                                                    static_cast<CDialog*>(w)->OnCancel();
                                                    return 0;
                                                }},
                                               {0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {&CWnd::GetStaticMessageMap, entries};
    return &map;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BOOL CDialog::OnInitDialog() {
    return TRUE;
}
void CDialog::OnOK() {
    EndDialog(IDOK);
}
void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}
void CDialog::OnSysCommand(UINT, LPARAM) {
    Default();
}
void CDialog::OnPaint() {
    Default();
}
void CDialog::OnTimer(UINT_PTR) {
    Default();
}

// --- CFileDialog (its DoModal is the backend's) ------------------------------

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName,
                         DWORD dwFlags, LPCTSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_defExt(lpszDefExt ? lpszDefExt : ""),
      m_fileName(lpszFileName ? lpszFileName : ""),
      m_filter(lpszFilter ? lpszFilter : ""),
      m_flags(dwFlags),
      m_pParentWnd(pParentWnd) {}

// --- CFileException ---------------------------------------------------------

CFileException::CFileException(std::string operation, std::string path, std::string reason)
    : m_operation(std::move(operation)), m_path(std::move(path)), m_reason(std::move(reason)) {}

std::string CFileException::Message() const {
    return m_operation + " " + m_path + ": " + m_reason;
}

void CFileException::ReportError() const {
    AfxMessageBox(Message());
}

// --- CWinApp ----------------------------------------------------------------

CWinApp::CWinApp() {
    g_app = this;
}
CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWinApp* AfxGetApp() {
    return g_app;
}

void AfxEnableControlContainer() {}

int AfxWinMain(int, char**) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    // InitInstance runs the main dialog itself and returns FALSE: the
    // application then ends instead of entering a message loop of its own.
    app->InitInstance();
    return 0;
}
