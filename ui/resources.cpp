// The dialog layouts and the string table: the one source of every caption
// and text the windows show, for every backend.
#include <string>

#include "framework/afxwin.h"
#include "framework/dialog_template.h"
#include "ui/resource.h"
#include "ui/strings.h"

namespace {

const char kDialogFont[] = "宋体";  // 9-point; fontconfig maps it to an installed CJK font

ControlTemplate Group(const char* text, int x, int y, int cx, int cy) {
    return {ControlKind::GroupBox, IDC_STATIC, text, x, y, cx, cy};
}
ControlTemplate Label(int id, const char* text, int x, int y, int cx, int cy) {
    return {ControlKind::Static, id, text, x, y, cx, cy};
}
ControlTemplate Button(int id, const char* text, int x, int y, int cx, int cy) {
    ControlTemplate c{ControlKind::PushButton, id, text, x, y, cx, cy};
    c.tabStop = true;
    return c;
}
ControlTemplate NumberBox(int id, int x, int y, int cx, int cy) {
    ControlTemplate c{ControlKind::Edit, id, "", x, y, cx, cy};
    c.border = c.autoHScroll = c.tabStop = true;
    c.disabled = true;
    return c;
}

DialogTemplate MakeMain() {
    ControlTemplate machineType{ControlKind::ComboBox, IDC_MACHINE_TYPE, "", 15, 32, 63, 83};
    machineType.vscroll = machineType.tabStop = true;
    machineType.disabled = true;

    ControlTemplate progress{ControlKind::Progress, IDC_PROGRESS, "Progress1", 102, 78, 196, 14};
    progress.hidden = true;
    progress.smooth = progress.border = true;

    return DialogTemplate{
        IDD_MAIN,
        "Lorvane 300 Download tool Ver1.0[2009.06.24]",
        320,
        116,
        kDialogFont,
        9,
        true,
        true,
        {
            Group("Function", 7, 7, 75, 102),
            machineType,
            Label(IDC_STATIC, "Machine Type:", 15, 20, 53, 8),
            Button(IDC_LOAD_FILE, "Load File", 15, 51, 62, 14),
            Button(IDC_PROGRAM, "Program", 15, 69, 62, 14),
            Button(IDC_EXIT, "Exit", 15, 86, 62, 14),
            Group("Status", 87, 7, 226, 102),
            Label(IDC_STATIC, "Length", 102, 37, 25, 8),
            NumberBox(IDC_LENGTH, 131, 34, 54, 14),
            Label(IDC_STATIC, "Send Length", 193, 37, 45, 8),
            NumberBox(IDC_SEND_LENGTH, 242, 34, 54, 14),
            Label(IDC_STATUS, "Idle", 103, 62, 194, 8),
            progress,
        },
    };
}

DialogTemplate MakeAbout() {
    ControlTemplate icon{ControlKind::Icon, IDC_STATIC, "", 11, 17, 20, 20};
    icon.iconId = IDR_MAINFRAME;
    ControlTemplate ok{ControlKind::DefPushButton, IDOK, "OK", 178, 7, 50, 14};
    ok.tabStop = true;
    return DialogTemplate{
        IDD_ABOUTBOX,
        "About Lorvane 300  Upload Tools",
        235,
        55,
        kDialogFont,
        9,
        true,
        false,
        {
            icon,
            Label(IDC_STATIC, "Lorvane 300 Download tool Ver1.0", 40, 10, 119, 8),
            Label(IDC_STATIC, "Copyright (C) 2009", 40, 25, 119, 8),
            ok,
        },
    };
}

}  // namespace

const DialogTemplate* AfxFindDialogTemplate(UINT nIDTemplate) {
    static const DialogTemplate main = MakeMain();
    static const DialogTemplate about = MakeAbout();
    switch (nIDTemplate) {
        case IDD_MAIN:
            return &main;
        case IDD_ABOUTBOX:
            return &about;
        default:
            return nullptr;
    }
}

std::string AfxLoadString(UINT nID) {
    switch (nID) {
        case IDS_ABOUTBOX:
            return IDS_ABOUTBOX_TEXT;
        default:
            return {};
    }
}
