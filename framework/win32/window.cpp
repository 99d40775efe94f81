// Win32 windows: dialogs built from the shared layouts, their controls, the
// message-map dispatch from the dialog procedure, modal loops, timers, the
// system menu, icons and painting. The windows are Unicode windows: every
// text goes to them and comes back through the wide calls, converted from
// and to our UTF-8 (disk/win32/system_text.h), so that a path outside the
// ANSI code page shows, and reads back, as it is. A window thread's dialogs
// and their controls are drawn instead (window_impl.h): each call answers
// from, and changes, what DrawnWindowData keeps.
#include <string>

#include "framework/win32/window_impl.h"
#include "framework/window_thread.h"

namespace win32 {

HWND MainWindow() {
    CWinApp* app = AfxGetApp();
    return app && app->m_pMainWnd && app->m_pMainWnd->Impl() ? app->m_pMainWnd->Impl()->hwnd
                                                             : nullptr;
}

namespace {

BOOL AppendToSystemMenu(CMenu* menu, const CMenu::Item& item) {
    const std::wstring text = Widen(item.text);
    return ::AppendMenuW(static_cast<HMENU>(menu->m_hMenu), item.flags, item.id,
                         item.flags & MF_SEPARATOR ? nullptr : text.c_str());
}

}  // namespace

// The one dialog procedure: every message goes through the dialog's
// message map; what the map leaves, the dialog manager handles.
INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dlg = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dlg));
        WindowImpl& w = *dlg->Impl();
        w.hwnd = hwnd;
        for (const auto& control : w.controls) {
            control->Impl()->hwnd = ::GetDlgItem(hwnd, control->GetDlgCtrlID());
        }
        if (w.tmpl) {
            SetLargeFonts(hwnd, *w.tmpl);
        }
        WindowCreated(dlg);
        return dlg->OnInitDialog();
    }
    if (message == WM_NCDESTROY) {
        // Whether or not the window still names its CWnd: after its
        // controls, which used it.
        FreeLargeFont(hwnd);
    }
    auto* wnd = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (wnd == nullptr) {
        return FALSE;
    }
    WindowImpl& w = *wnd->Impl();
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        ForgetWindow(wnd);
        w.hwnd = nullptr;
        w.ended = true;
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd == wnd) {
            PostQuitMessage(0);  // the main window is gone: the application ends
        }
        return FALSE;
    }
    const bool savedDefault = w.defaultRequested;
    w.defaultRequested = false;
    const LRESULT result = wnd->WindowProc(message, wParam, lParam);
    const bool useDefault = w.defaultRequested;
    w.defaultRequested = savedDefault;
    if (useDefault) {
        return FALSE;
    }
    if (message == WM_QUERYDRAGICON) {
        return static_cast<INT_PTR>(result);  // returned directly, not through DWLP_MSGRESULT
    }
    if (IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    }
    return TRUE;
}

}  // namespace win32

// --- CWnd -------------------------------------------------------------------------

CWnd::CWnd() : m_pImpl(std::make_unique<WindowImpl>()) {}

WindowData& CWnd::Data() const {
    return *m_pImpl;
}

CWnd::~CWnd() {
    if (!m_pImpl || m_pImpl->isControl) {
        return;
    }
    win32::ForgetWindow(this);
    if (m_pImpl->hwnd && IsWindow(m_pImpl->hwnd)) {
        SetWindowLongPtrA(m_pImpl->hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_pImpl->hwnd);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pImpl->drawn) {
        return m_pImpl->isControl ? DrawnControlMessage(*this, message, wParam, lParam)
                                  : WindowProc(message, wParam, lParam);
    }
    HWND hwnd = m_pImpl->hwnd;
    if (message == CB_GETLBTEXT) {
        // The framework's form: lParam is a std::string to fill.
        const LRESULT n = ::SendMessageW(hwnd, CB_GETLBTEXTLEN, wParam, 0);
        if (n == CB_ERR) {
            return CB_ERR;
        }
        std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
        const LRESULT got =
            ::SendMessageW(hwnd, CB_GETLBTEXT, wParam, reinterpret_cast<LPARAM>(text.data()));
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        std::string& out = *reinterpret_cast<std::string*>(lParam);
        out = win32::Utf8(text);
        return static_cast<LRESULT>(out.size());
    }
    if (message == CB_ADDSTRING) {
        // lParam: the item's text, UTF-8 as every text of ours.
        const std::wstring text = win32::Widen(reinterpret_cast<const char*>(lParam));
        return ::SendMessageW(hwnd, message, wParam, reinterpret_cast<LPARAM>(text.c_str()));
    }
    return ::SendMessageA(hwnd, message, wParam, lParam);
}

void CWnd::SetWindowText(LPCTSTR text) {
    if (m_pImpl->drawn) {
        m_pImpl->text = text ? text : "";
        return;
    }
    ::SetWindowTextW(m_pImpl->hwnd, win32::Widen(text ? text : "").c_str());
}

std::string CWnd::GetWindowText() const {
    if (m_pImpl->drawn) {
        return m_pImpl->text;
    }
    const int n = ::GetWindowTextLengthW(m_pImpl->hwnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(m_pImpl->hwnd, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return win32::Utf8(text);
}

void CWnd::SetFocus() {
    ::SetFocus(m_pImpl->hwnd);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (m_pImpl->drawn) {
        const BOOL wasDisabled = m_pImpl->enabled ? FALSE : TRUE;
        m_pImpl->enabled = enable != FALSE;
        return wasDisabled;
    }
    return ::EnableWindow(m_pImpl->hwnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
    if (m_pImpl->drawn) {
        return m_pImpl->enabled ? TRUE : FALSE;
    }
    return ::IsWindowEnabled(m_pImpl->hwnd);
}
BOOL CWnd::IsWindowVisible() const {
    return m_pImpl->drawn ? FALSE : ::IsWindowVisible(m_pImpl->hwnd);  // drawn: never shown
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, void*) {
    if (m_pImpl->drawn) {
        if (m_pImpl->isControl || !m_pImpl->alive) {
            return 0;
        }
        win32::ArmThreadTimer(this, nIDEvent, nElapse);
        return nIDEvent;
    }
    return ::SetTimer(m_pImpl->hwnd, nIDEvent, nElapse, nullptr);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    if (m_pImpl->drawn) {
        return win32::DisarmThreadTimer(this, nIDEvent) ? TRUE : FALSE;
    }
    return ::KillTimer(m_pImpl->hwnd, nIDEvent);
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    if (m_pImpl->drawn) {
        // Kept, and never shown.
        const DialogTemplate* t = m_pImpl->tmpl;
        return t != nullptr && t->systemMenu ? &m_pImpl->systemMenu : nullptr;
    }
    HMENU menu = ::GetSystemMenu(m_pImpl->hwnd, bRevert);
    if (menu == nullptr) {
        return nullptr;
    }
    CMenu& m = m_pImpl->systemMenu;
    m.m_hMenu = menu;
    m.m_pfnAppend = &win32::AppendToSystemMenu;
    return &m;
}

BOOL CWnd::IsIconic() const {
    return m_pImpl->drawn ? FALSE : ::IsIconic(m_pImpl->hwnd);
}

void CWnd::GetClientRect(CRect* rect) const {
    if (m_pImpl->drawn) {
        *rect = CRect{};  // nothing is shown
        return;
    }
    RECT r{};
    ::GetClientRect(m_pImpl->hwnd, &r);
    *rect = CRect{r.left, r.top, r.right, r.bottom};
}

bool CWnd::IsWindowAlive() const {
    if (m_pImpl->drawn) {
        return !m_pImpl->isControl && m_pImpl->alive;
    }
    return m_pImpl->hwnd != nullptr && ::IsWindow(m_pImpl->hwnd);
}

BOOL CWnd::DestroyWindow() {
    if (!IsWindowAlive()) {
        return FALSE;
    }
    if (m_pImpl->drawn) {
        m_pImpl->alive = false;
        m_pImpl->ended = true;
        win32::ForgetWindow(this);
        OnPostDestroy();
        return TRUE;
    }
    const BOOL ok = ::DestroyWindow(m_pImpl->hwnd);
    OnPostDestroy();
    return ok;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pImpl->drawn) {
        return DrawnDefWindowProc(*this, message, wParam, lParam);
    }
    // Leave the message to the dialog manager.
    m_pImpl->defaultRequested = true;
    return 0;
}

// --- CDialog ----------------------------------------------------------------------

CDialog::~CDialog() = default;

namespace win32 {

bool CreateDialogWindow(CDialog& dlg, const DialogTemplate& t, HWND owner) {
    WindowImpl& w = *dlg.Impl();
    w.tmpl = &t;
    w.ended = false;
    w.result = IDCANCEL;
    w.controls.clear();
    const std::vector<WORD> bytes = BuildDialogTemplate(t);
    // Control wrappers first, so OnInitDialog finds its controls.
    for (const ControlTemplate& c : t.controls) {
        if (c.id == -1) {
            continue;
        }
        auto control = std::make_unique<CWnd>();
        control->Impl()->isControl = true;
        control->Impl()->dialog = &dlg;
        w.controls.push_back(std::move(control));
    }
    std::size_t k = 0;
    for (const ControlTemplate& c : t.controls) {
        if (c.id != -1) {
            WindowData::SetControlId(*w.controls[k++], c.id);
        }
    }
    // A Unicode dialog, whose controls are Unicode controls: an ANSI edit
    // box would keep its text in the ANSI code page.
    HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), owner,
                                           &DialogProc, reinterpret_cast<LPARAM>(&dlg));
    return hwnd != nullptr;
}

}  // namespace win32

namespace {

bool CreateFromTemplate(CDialog& dlg, UINT id, HWND owner) {
    const DialogTemplate* t = AfxFindDialogTemplate(id);
    return t != nullptr && win32::CreateDialogWindow(dlg, *t, owner);
}

}  // namespace

BOOL CDialog::Create(BOOL bShow) {
    if (AfxOnWindowThread()) {
        // Never shown: drawn, with controls that are drawn too
        // (window_impl.h).
        const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
        if (t == nullptr || IsWindowAlive()) {
            return FALSE;
        }
        m_pImpl = std::make_unique<WindowImpl>();
        WindowImpl& w = *m_pImpl;
        w.drawn = true;
        w.tmpl = t;
        w.text = t->caption;
        for (const ControlTemplate& ct : t->controls) {
            auto control = MakeDrawnControl(this, ct);
            control->Impl()->drawn = true;
            w.controls.push_back(std::move(control));
        }
        w.alive = true;
        win32::WindowCreated(this);
        OnInitDialog();
        return TRUE;
    }
    HWND owner = m_pParentWnd ? m_pParentWnd->Impl()->hwnd : nullptr;
    if (!CreateFromTemplate(*this, m_nIDTemplate, owner)) {
        return FALSE;
    }
    // Hidden, it stays so: nothing here shows it later. Its timers and
    // hand-overs are the thread's messages to it, shown or not.
    if (bShow && m_pImpl->hwnd) {
        ::ShowWindow(m_pImpl->hwnd, SW_SHOW);
    }
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (AfxOnWindowThread()) {
        return -1;  // a window thread's dialogs are never shown
    }
    HWND owner = m_pParentWnd ? m_pParentWnd->Impl()->hwnd : win32::MainWindow();
    if (!CreateFromTemplate(*this, m_nIDTemplate, owner)) {
        return -1;
    }
    HWND hwnd = m_pImpl->hwnd;
    const bool disableOwner = owner && owner != hwnd && ::IsWindowEnabled(owner);
    if (disableOwner) {
        ::EnableWindow(owner, FALSE);
    }
    ::ShowWindow(hwnd, SW_SHOW);

    // Timers and hand-overs of every window are dispatched here too.
    MSG msg;
    while (!m_pImpl->ended && ::IsWindow(hwnd)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside ours
            }
            break;
        }
        if (!::IsDialogMessageW(hwnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    const int result = m_pImpl->result;
    if (::IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd);
    }
    win32::ForgetWindow(this);
    m_pImpl->hwnd = nullptr;
    return result;
}

void CDialog::EndDialog(int nResult) {
    m_pImpl->ended = true;
    m_pImpl->result = nResult;
    if (m_pImpl->hwnd) {
        ::PostMessageA(m_pImpl->hwnd, WM_NULL, 0, 0);  // wake the modal loop
    }
}

// --- Odds and ends ---------------------------------------------------------------

int AfxGetSystemMetrics(int index) {
    return ::GetSystemMetrics(index);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    // A window thread's dialogs are drawn, and show no icon.
    return AfxOnWindowThread()
               ? nullptr
               : ::LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nIDResource));
}

int AfxMessageBox(const std::string& text) {
    return AfxMessageBox(text, MB_OK);
}

// A box that names no sign has the warning sign (the framework's own
// reports), or the question sign when it asks. Whatever ends a yes/no box
// but Yes (its close box, where the system offers one) is No.
int AfxMessageBox(const std::string& text, UINT nType) {
    const bool yesNo = (nType & MB_TYPEMASK) == MB_YESNO;
    UINT style = (yesNo ? MB_YESNO : MB_OK) | (nType & MB_ICONMASK);
    if ((nType & MB_ICONMASK) == 0) {
        style |= yesNo ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
    }
    const int answer =
        ::MessageBoxW(win32::MainWindow(), win32::Widen(text).c_str(), L"DownloadTool", style);
    if (!yesNo) {
        return IDOK;
    }
    return answer == IDYES ? IDYES : IDNO;
}

std::uint64_t AfxTickCount() {
    return ::GetTickCount64();
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_hDC(nullptr), m_paint{} {
    static_assert(sizeof(PAINTSTRUCT) <= sizeof m_paint);
    m_hDC = ::BeginPaint(wnd->Impl()->hwnd, reinterpret_cast<PAINTSTRUCT*>(m_paint));
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_pWnd->Impl()->hwnd, reinterpret_cast<PAINTSTRUCT*>(m_paint));
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    return ::DrawIcon(m_hDC, x, y, hIcon);
}
