// Headless windows: dialogs and controls that record what they show.
#include <cstdio>
#include <deque>
#include <stdexcept>

#include "framework/dialog_template.h"
#include "framework/headless/headless.h"
#include "framework/headless/window_impl.h"

namespace headless {
namespace {

struct UserSeen {
    std::vector<std::string> messageBoxes;
    std::vector<UINT> modalTemplates;
    std::optional<IconDraw> lastIcon;
    bool iconErased = false;
    std::deque<std::function<INT_PTR(CDialog&)>> modalScripts;
    std::deque<std::function<std::optional<std::string>(const CFileDialog&)>> fileScripts;
    std::deque<std::function<int(const std::string&)>> messageBoxScripts;
    std::function<void(CWnd&, int)> observer;
};

UserSeen& Seen() {
    static UserSeen seen;
    return seen;
}

HICON IconFor(UINT id) {
    // Icons are opaque; a distinct non-null value per resource id will do.
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000 + id));
}

}  // namespace

void NotifyControlChanged(CWnd* control) {
    auto& observer = Seen().observer;
    WindowImpl* impl = control->Impl();
    if (observer && impl && impl->dialog) {
        observer(*impl->dialog, control->GetDlgCtrlID());
    }
}

bool Click(CWnd& dialog, int id) {
    CWnd* button = dialog.GetDlgItem(id);
    if (!button || !button->IsWindowEnabled() || !button->IsWindowVisible()) {
        return false;
    }
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), BN_CLICKED), 0);
    return true;
}

bool SelectComboItem(CWnd& dialog, int id, int index) {
    CWnd* combo = dialog.GetDlgItem(id);
    if (!combo || !combo->IsWindowEnabled()) {
        return false;
    }
    combo->SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), CBN_SELCHANGE), 0);
    return true;
}

bool TypeComboText(CWnd& dialog, int id, const std::string& text) {
    CWnd* combo = dialog.GetDlgItem(id);
    if (!combo || !combo->IsWindowEnabled()) {
        return false;
    }
    combo->Impl()->text = text;
    constexpr UINT CBN_EDITCHANGE = 5;
    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), CBN_EDITCHANGE), 0);
    return true;
}

void SystemCommand(CWnd& dialog, UINT nID) {
    dialog.SendMessage(WM_SYSCOMMAND, nID, 0);
}

void SetIconic(CWnd& window, bool iconic) {
    window.Impl()->iconic = iconic;
}

void ScriptModal(std::function<INT_PTR(CDialog&)> script) {
    Seen().modalScripts.push_back(std::move(script));
}

void ScriptFileDialog(std::function<std::optional<std::string>(const CFileDialog&)> script) {
    Seen().fileScripts.push_back(std::move(script));
}

void ScriptMessageBox(std::function<int(const std::string&)> script) {
    Seen().messageBoxScripts.push_back(std::move(script));
}

std::vector<std::string> MessageBoxes() {
    return Seen().messageBoxes;
}
void ClearMessageBoxes() {
    Seen().messageBoxes.clear();
}
std::vector<UINT> ModalTemplatesShown() {
    return Seen().modalTemplates;
}
std::optional<IconDraw> LastIconDrawn() {
    return Seen().lastIcon;
}
bool IconBackgroundErased() {
    return Seen().iconErased;
}
bool IsMasked(CWnd& dialog, int id) {
    CWnd* control = dialog.GetDlgItem(id);
    return control != nullptr && control->Impl()->masked;
}
void OnControlChanged(std::function<void(CWnd&, int)> observer) {
    Seen().observer = std::move(observer);
}

}  // namespace headless

// --- CWnd -------------------------------------------------------------------------

CWnd::CWnd() : m_pImpl(std::make_unique<WindowImpl>()) {}

WindowData& CWnd::Data() const {
    return *m_pImpl;
}

CWnd::~CWnd() {
    if (m_pImpl && !m_pImpl->isControl) {
        headless::ForgetWindow(this);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl& w = *m_pImpl;
    if (!w.isControl) {
        return WindowProc(message, wParam, lParam);
    }
    const LRESULT result = DrawnControlMessage(*this, message, wParam, lParam);
    const bool changed = message == CB_ADDSTRING || message == CB_SETCURSEL ||
                         message == PBM_SETRANGE || message == PBM_SETPOS;
    if (changed) {
        headless::NotifyControlChanged(this);
    }
    return result;
}

void CWnd::SetWindowText(LPCTSTR text) {
    m_pImpl->text = text ? text : "";
    if (m_pImpl->isControl) {
        headless::NotifyControlChanged(this);
    }
}

std::string CWnd::GetWindowText() const {
    return m_pImpl->text;
}

void CWnd::SetFocus() {}

BOOL CWnd::EnableWindow(BOOL enable) {
    const BOOL wasDisabled = m_pImpl->enabled ? FALSE : TRUE;
    m_pImpl->enabled = enable != FALSE;
    if (m_pImpl->isControl) {
        headless::NotifyControlChanged(this);
    }
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    return m_pImpl->enabled ? TRUE : FALSE;
}
BOOL CWnd::IsWindowVisible() const {
    return m_pImpl->visible ? TRUE : FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, void*) {
    headless::ArmTimer(this, nIDEvent, nElapse);
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return headless::DisarmTimer(this, nIDEvent) ? TRUE : FALSE;
}

CMenu* CWnd::GetSystemMenu(BOOL) const {
    if (m_pImpl->tmpl == nullptr || !m_pImpl->tmpl->systemMenu) {
        return nullptr;
    }
    return &m_pImpl->systemMenu;
}

BOOL CWnd::IsIconic() const {
    return m_pImpl->iconic ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
    // Client size in pixels as the 9-point font gives it: 2 × 1.75 pixels a
    // dialog unit would be fine detail; a fixed scale keeps tests exact.
    const DialogTemplate* t = m_pImpl->tmpl;
    *rect = CRect{0, 0, t ? t->cx * 3 / 2 : 0, t ? t->cy * 15 / 8 : 0};
}

bool CWnd::IsWindowAlive() const {
    std::lock_guard<std::mutex> g(headless::Lock());
    return m_pImpl->alive;
}

BOOL CWnd::DestroyWindow() {
    if (!IsWindowAlive()) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        m_pImpl->alive = false;
    }
    headless::ForgetWindow(this);
    m_pImpl->ended = true;
    OnPostDestroy();
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ICONERASEBKGND) {
        headless::Seen().iconErased = true;
    }
    return DrawnDefWindowProc(*this, message, wParam, lParam);
}

// --- CDialog ----------------------------------------------------------------------

CDialog::~CDialog() = default;

BOOL CDialog::Create(BOOL /*bShow*/) {
    const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
    if (t == nullptr) {
        return FALSE;
    }
    WindowImpl& w = *m_pImpl;
    w.tmpl = t;
    w.text = t->caption;
    w.controls.clear();
    w.systemMenu.m_items.clear();
    w.ended = false;
    w.result = IDCANCEL;
    for (const ControlTemplate& ct : t->controls) {
        auto control = MakeDrawnControl(this, ct);
        control->m_pImpl->visible = !ct.hidden;
        w.controls.push_back(std::move(control));
    }
    {
        std::lock_guard<std::mutex> g(headless::Lock());
        w.alive = true;
    }
    OnInitDialog();
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (!Create()) {
        return -1;
    }
    headless::Seen().modalTemplates.push_back(m_nIDTemplate);
    // The owner is disabled while a modal dialog is up.
    CWnd* owner = m_pParentWnd ? m_pParentWnd : (AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr);
    const bool disableOwner = owner && owner != this && owner->IsWindowEnabled();
    if (disableOwner) {
        owner->EnableWindow(FALSE);
    }
    auto& scripts = headless::Seen().modalScripts;
    if (!scripts.empty()) {
        auto script = std::move(scripts.front());
        scripts.pop_front();
        const INT_PTR r = script(*this);
        if (!m_pImpl->ended) {
            EndDialog(static_cast<int>(r));
        }
    } else if (owner == nullptr || owner == this) {
        // The main window: run the clock until it ends or nothing is left.
        while (!m_pImpl->ended) {
            const auto next = headless::NextEventTime();
            if (!next) {
                break;
            }
            headless::Advance(*next - headless::Now());
        }
    }
    if (disableOwner) {
        owner->EnableWindow(TRUE);
    }
    const int result = m_pImpl->ended ? m_pImpl->result : IDCANCEL;
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int nResult) {
    m_pImpl->ended = true;
    m_pImpl->result = nResult;
}

// --- Odds and ends ---------------------------------------------------------------

int AfxGetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return headless::IconFor(nIDResource);
}

int AfxMessageBox(const std::string& text) {
    return AfxMessageBox(text, MB_OK);
}

int AfxMessageBox(const std::string& text, UINT nType) {
    auto& seen = headless::Seen();
    seen.messageBoxes.push_back(text);
    const bool yesNo = (nType & 0xF) == MB_YESNO;
    if (seen.messageBoxScripts.empty()) {
        return yesNo ? IDNO : IDOK;
    }
    auto script = std::move(seen.messageBoxScripts.front());
    seen.messageBoxScripts.pop_front();
    const int answer = script(text);
    return yesNo ? (answer == IDYES ? IDYES : IDNO) : IDOK;
}

std::uint64_t AfxTickCount() {
    return headless::Now();
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_hDC(reinterpret_cast<HDC>(wnd)) {}
CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    headless::Seen().lastIcon = headless::IconDraw{x, y, hIcon};
    return TRUE;
}

// --- The open-file dialog ---------------------------------------------------------

INT_PTR CFileDialog::DoModal() {
    auto& scripts = headless::Seen().fileScripts;
    if (scripts.empty()) {
        return IDCANCEL;
    }
    auto script = std::move(scripts.front());
    scripts.pop_front();
    const std::optional<std::string> chosen = script(*this);
    if (!chosen) {
        return IDCANCEL;
    }
    m_path = *chosen;
    return IDOK;
}
