// Builds dialog templates in memory from the shared layouts, so the Windows
// build shows exactly the layout every other backend shows.
#include <string>

#include "framework/win32/window_impl.h"

namespace win32 {
namespace {

void Push(std::vector<WORD>& out, DWORD v) {
    out.push_back(LOWORD(v));
    out.push_back(HIWORD(v));
}

void PushString(std::vector<WORD>& out, const std::wstring& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

void Align(std::vector<WORD>& out) {
    if (out.size() % 2) {  // DWORD boundaries
        out.push_back(0);
    }
}

DWORD StyleOf(const ControlTemplate& c) {
    DWORD style = WS_CHILD | (c.hidden ? 0 : WS_VISIBLE) | (c.disabled ? WS_DISABLED : 0) |
                  (c.tabStop ? WS_TABSTOP : 0) | (c.border ? WS_BORDER : 0) |
                  (c.vscroll ? WS_VSCROLL : 0);
    switch (c.kind) {
        case ControlKind::GroupBox:
            return style | BS_GROUPBOX;
        case ControlKind::Static:
            return style | (c.center ? SS_CENTER : SS_LEFT) | (c.ellipsis ? SS_ENDELLIPSIS : 0);
        case ControlKind::PushButton:
            return style | BS_PUSHBUTTON;
        case ControlKind::DefPushButton:
            return style | BS_DEFPUSHBUTTON;
        case ControlKind::ComboBox:
            return style | CBS_DROPDOWN;
        case ControlKind::Edit:
            return style | ES_LEFT | (c.autoHScroll ? ES_AUTOHSCROLL : 0) |
                   (c.password ? ES_PASSWORD : 0);
        case ControlKind::Progress:
            return style | (c.smooth ? PBS_SMOOTH : 0);
        case ControlKind::Icon:
            return style | SS_ICON;
    }
    return style;
}

// The window property that holds a dialog's large font.
constexpr char kLargeFontProperty[] = "DownloadTool.LargeFont";

}  // namespace

void SetLargeFonts(HWND dialog, const DialogTemplate& t) {
    HFONT font = nullptr;
    // The dialog manager makes the controls in template order, each below
    // the one before: the order its tab key follows.
    HWND control = GetWindow(dialog, GW_CHILD);
    for (const ControlTemplate& c : t.controls) {
        if (control == nullptr || LOWORD(GetDlgCtrlID(control)) != static_cast<WORD>(c.id)) {
            break;  // not the window the template describes here
        }
        if (c.kind == ControlKind::Static && c.large) {
            if (font == nullptr) {
                auto base = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
                LOGFONTA lf{};
                if (base == nullptr || GetObjectA(base, sizeof lf, &lf) != sizeof lf) {
                    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
                }
                lf.lfHeight = lf.lfHeight != 0 ? lf.lfHeight * 3 : -36;
                lf.lfWidth = 0;
                lf.lfWeight = FW_BOLD;
                font = CreateFontIndirectA(&lf);
                if (font == nullptr) {
                    return;
                }
                SetPropA(dialog, kLargeFontProperty, font);
            }
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
}

void FreeLargeFont(HWND dialog) {
    if (HANDLE font = RemovePropA(dialog, kLargeFontProperty)) {
        DeleteObject(static_cast<HFONT>(font));
    }
}

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t) {
    std::vector<WORD> out;
    const DWORD style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION |
                        (t.systemMenu ? WS_SYSMENU : 0) | DS_3DLOOK;
    Push(out, style);
    Push(out, t.appWindow ? WS_EX_APPWINDOW : 0);
    out.push_back(static_cast<WORD>(t.controls.size()));
    out.push_back(0);  // x
    out.push_back(0);  // y
    out.push_back(static_cast<WORD>(t.cx));
    out.push_back(static_cast<WORD>(t.cy));
    out.push_back(0);  // no menu
    out.push_back(0);  // the standard dialog class
    PushString(out, Widen(t.caption));
    out.push_back(static_cast<WORD>(t.fontPointSize));
    PushString(out, Widen(t.fontFace));

    for (const ControlTemplate& c : t.controls) {
        Align(out);
        Push(out, StyleOf(c));
        Push(out, 0);  // extended style
        out.push_back(static_cast<WORD>(c.x));
        out.push_back(static_cast<WORD>(c.y));
        out.push_back(static_cast<WORD>(c.cx));
        out.push_back(static_cast<WORD>(c.cy));
        out.push_back(static_cast<WORD>(c.id));
        switch (c.kind) {  // predefined classes by atom, others by name
            case ControlKind::GroupBox:
            case ControlKind::PushButton:
            case ControlKind::DefPushButton:
                out.push_back(0xFFFF);
                out.push_back(0x0080);
                break;
            case ControlKind::Edit:
                out.push_back(0xFFFF);
                out.push_back(0x0081);
                break;
            case ControlKind::Static:
            case ControlKind::Icon:
                out.push_back(0xFFFF);
                out.push_back(0x0082);
                break;
            case ControlKind::ComboBox:
                out.push_back(0xFFFF);
                out.push_back(0x0085);
                break;
            case ControlKind::Progress:
                PushString(out, Widen(PROGRESS_CLASSA));
                break;
        }
        if (c.kind == ControlKind::Icon) {
            out.push_back(0xFFFF);  // the icon resource by number
            out.push_back(static_cast<WORD>(c.iconId));
        } else {
            PushString(out, Widen(c.text));
        }
        out.push_back(0);  // no creation data
    }
    return out;
}

}  // namespace win32
