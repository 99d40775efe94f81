// What the backends share of a window's handling, on the data every one
// keeps (window_data.h).
#include "framework/window_data.h"

void WindowData::SetControlId(CWnd& control, int id) {
    control.m_nID = id;
}

std::unique_ptr<CWnd> MakeDrawnControl(CDialog* dialog, const ControlTemplate& ct) {
    auto control = std::make_unique<CWnd>();
    WindowData::SetControlId(*control, ct.id);
    auto& c = static_cast<DrawnWindowData&>(control->Data());
    c.isControl = true;
    c.kind = ct.kind;
    c.dialog = dialog;
    // A combo box's edit field starts empty; its text is its list's.
    c.text = ct.kind == ControlKind::ComboBox ? "" : ct.text;
    c.enabled = !ct.disabled;
    c.masked = ct.kind == ControlKind::Edit && ct.password;
    return control;
}

LRESULT DrawnControlMessage(CWnd& control, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& w = static_cast<DrawnWindowData&>(control.Data());
    switch (message) {
        case CB_ADDSTRING: {
            const char* text = reinterpret_cast<const char*>(lParam);
            w.items.emplace_back(text ? text : "");
            return static_cast<LRESULT>(w.items.size() - 1);
        }
        case CB_GETCOUNT:
            return static_cast<LRESULT>(w.items.size());
        case CB_SETCURSEL:
            if (wParam >= w.items.size()) {
                w.curSel = -1;
                return CB_ERR;
            }
            w.curSel = static_cast<int>(wParam);
            w.text = w.items[wParam];
            return w.curSel;
        case CB_GETCURSEL:
            return w.curSel;
        case CB_GETLBTEXT: {
            if (wParam >= w.items.size()) {
                return CB_ERR;
            }
            std::string& out = *reinterpret_cast<std::string*>(lParam);
            out = w.items[wParam];
            return static_cast<LRESULT>(out.size());
        }
        case PBM_SETRANGE:
            return w.progress.SetRange(lParam);
        case PBM_SETPOS:
            return w.progress.SetPos(wParam);
        case PBM_GETRANGE:
            return w.progress.Range(wParam);
        case PBM_GETPOS:
            return w.progress.pos;
        default:
            return 0;
    }
}

LRESULT DrawnDefWindowProc(CWnd& wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& w = static_cast<DrawnWindowData&>(wnd.Data());
    switch (message) {
        case WM_SETICON: {
            HICON& slot = wParam == ICON_BIG ? w.bigIcon : w.smallIcon;
            HICON old = slot;
            slot = reinterpret_cast<HICON>(lParam);
            return reinterpret_cast<LRESULT>(old);
        }
        case WM_ICONERASEBKGND:
            return 1;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                // The caption's close box ends a dialog as Cancel.
                return wnd.WindowProc(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            }
            return 0;
        default:
            return 0;
    }
}
