// The dialog layouts and the string table: the one source of every caption
// and text the windows show, for every backend.
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/dialog_template.h"
#include "ui/resource.h"
#include "ui/station_layout.h"
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

ControlTemplate TextBox(int id, int x, int y, int cx, int cy) {
    ControlTemplate c{ControlKind::Edit, id, "", x, y, cx, cy};
    c.border = c.autoHScroll = c.tabStop = true;
    return c;
}

// The station window for n positions: a header (what the station programs,
// its totals, its buttons) over a grid of one panel per position.
DialogTemplate MakeStation(int n) {
    const StationGrid g = StationGridFor(n);
    DialogTemplate t{static_cast<unsigned>(IDD_STATION + n),
                     "Download Station",
                     g.width,
                     g.height,
                     kDialogFont,
                     9,
                     true,
                     true,
                     {}};
    auto& c = t.controls;
    const int right = g.width - kStationMargin;
    const int buttons = right - 4 * kStationButtonWidth - 3 * kStationGap;
    // Texts that may be long (paths) are cut with "..." at their boxes.
    auto line = [](int id, int x, int y, int cx) {
        ControlTemplate l = Label(id, "", x, y, cx, 8);
        l.ellipsis = true;
        return l;
    };
    const int headerWidth = buttons - kStationMargin - 4;
    c.push_back(line(IDC_ST_TYPE, kStationMargin, 7, headerWidth));
    c.push_back(line(IDC_ST_IMAGE, kStationMargin, 18, headerWidth));
    c.push_back(line(IDC_ST_FILE, kStationMargin, 29, headerWidth));
    c.push_back(line(IDC_ST_RECORD, kStationMargin, 40, right - kStationMargin));
    const char* names[] = {"Start", "Stop", "Settings...", "Exit"};
    const int ids[] = {IDC_ST_START, IDC_ST_STOP, IDC_ST_SETTINGS, IDC_ST_EXIT};
    for (int i = 0; i < 4; ++i) {
        ControlTemplate b =
            Button(ids[i], names[i], buttons + i * (kStationButtonWidth + kStationGap), 7,
                   kStationButtonWidth, 14);
        b.disabled = ids[i] != IDC_ST_EXIT;
        c.push_back(b);
    }
    c.push_back(Label(IDC_ST_TOTALS, "", buttons, 27, right - buttons, 8));
    // The scanner's line: a position's label, then its unit's.
    c.push_back(Label(-1, "Scan:", kStationMargin, 53, 24, 8));
    ControlTemplate scan = TextBox(IDC_ST_SCAN, kStationMargin + 26, 51, 120, 12);
    scan.tabStop = true;
    c.push_back(scan);
    c.push_back(line(IDC_ST_SCAN_NOTE, kStationMargin + 152, 53, right - kStationMargin - 152));
    for (int i = 0; i < n; ++i) {
        const int x = kStationMargin + (i % g.columns) * (g.panelWidth + kStationGap);
        const int y = kStationHeader + (i / g.columns) * (kStationPanelHeight + kStationGap);
        const int w = g.panelWidth;
        auto id = [i](int field) { return PanelControlId(i, field); };
        c.push_back(Group("", x, y, w, kStationPanelHeight));
        c.back().id = id(PANEL_BOX);
        c.push_back(line(id(PANEL_PORT), x + 6, y + 11, w - 12));
        ControlTemplate result = Label(id(PANEL_RESULT), "", x + 6, y + 21, 70, 24);
        result.large = result.center = true;
        c.push_back(result);
        c.push_back(line(id(PANEL_STATE), x + 80, y + 21, w - 86));
        ControlTemplate progress{
            ControlKind::Progress, id(PANEL_PROGRESS), "", x + 80, y + 32, w - 86 - 28, 10};
        progress.smooth = progress.border = true;
        c.push_back(progress);
        c.push_back(Label(id(PANEL_PERCENT), "", x + w - 32, y + 33, 26, 8));
        c.push_back(line(id(PANEL_REASON), x + 6, y + 48, w - 12));
        c.push_back(line(id(PANEL_COUNTS), x + 6, y + 59, w - 12));
    }
    return t;
}

// What a station programs and where: set up by hand, saved as a station
// file.
DialogTemplate MakeStationSetup() {
    ControlTemplate type{ControlKind::ComboBox, IDC_SU_TYPE, "", 70, 7, 100, 60};
    type.vscroll = type.tabStop = true;
    ControlTemplate ok{ControlKind::DefPushButton, IDOK, "OK", 196, 155, 55, 14};
    ok.tabStop = true;
    return DialogTemplate{
        IDD_STATION_SETUP,
        "Station Settings",
        320,
        176,
        kDialogFont,
        9,
        true,
        false,
        {
            Label(IDC_STATIC, "Machine type:", 7, 9, 60, 8),
            type,
            Label(IDC_STATIC, "Image:", 7, 28, 60, 8),
            TextBox(IDC_SU_IMAGE, 70, 26, 185, 14),
            Button(IDC_SU_IMAGE_BROWSE, "Browse...", 260, 26, 53, 14),
            Label(IDC_STATIC, "SHA-256:", 7, 46, 60, 8),
            Label(IDC_SU_SHA, "", 70, 46, 243, 8),
            Label(IDC_STATIC, "Ports:", 7, 64, 60, 8),
            TextBox(IDC_SU_PORTS, 70, 62, 243, 14),
            Label(IDC_STATIC, "One a position, in order, separated by blanks: COM3,", 70, 79, 243,
                  8),
            Label(IDC_STATIC, "/dev/ttyUSB0, serial:NUMBER or location:PATH (1 to 16).", 70, 88,
                  243, 8),
            Label(IDC_STATIC, "Record file:", 7, 106, 60, 8),
            TextBox(IDC_SU_RECORD, 70, 104, 185, 14),
            Button(IDC_SU_RECORD_BROWSE, "Browse...", 260, 104, 53, 14),
            Label(IDC_STATIC, "Silence timeout:", 7, 126, 60, 8),
            TextBox(IDC_SU_TIMEOUT, 70, 124, 40, 14),
            Label(IDC_STATIC, "seconds", 114, 126, 40, 8),
            Button(IDC_SU_SAVE_AS, "Save As...", 7, 155, 60, 14),
            ok,
            Button(IDCANCEL, "Cancel", 258, 155, 55, 14),
        },
    };
}

// The supervisor's password, asked before the station's settings unlock:
// what is typed shows as marks.
DialogTemplate MakeStationPassword() {
    ControlTemplate password = TextBox(IDC_PW_PASSWORD, 52, 28, 151, 14);
    password.password = true;
    ControlTemplate ok{ControlKind::DefPushButton, IDOK, "OK", 89, 51, 55, 14};
    ok.tabStop = true;
    return DialogTemplate{
        IDD_STATION_PASSWORD,
        "Unlock Settings",
        210,
        72,
        kDialogFont,
        9,
        true,
        false,
        {
            Label(IDC_STATIC, "The station's settings are locked with a supervisor password.", 7, 9,
                  196, 8),
            Label(IDC_STATIC, "Password:", 7, 30, 43, 8),
            password,
            ok,
            Button(IDCANCEL, "Cancel", 148, 51, 55, 14),
        },
    };
}

}  // namespace

const DialogTemplate* AfxFindDialogTemplate(UINT nIDTemplate) {
    static const DialogTemplate main = MakeMain();
    static const DialogTemplate about = MakeAbout();
    static const DialogTemplate setup = MakeStationSetup();
    static const DialogTemplate password = MakeStationPassword();
    static const std::vector<DialogTemplate> stations = [] {
        std::vector<DialogTemplate> all;
        for (int n = 1; n <= kMaxStationPanels; ++n) {
            all.push_back(MakeStation(n));
        }
        return all;
    }();
    if (nIDTemplate > IDD_STATION && nIDTemplate <= IDD_STATION + kMaxStationPanels) {
        return &stations[nIDTemplate - IDD_STATION - 1];
    }
    switch (nIDTemplate) {
        case IDD_STATION_SETUP:
            return &setup;
        case IDD_STATION_PASSWORD:
            return &password;
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
