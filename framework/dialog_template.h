// Dialog templates: the one description of a dialog's layout and texts that
// every backend builds its window from.
//
// Coordinates are dialog units, as in a Windows dialog resource: a
// horizontal unit is a quarter of the dialog font's average character
// width, a vertical unit an eighth of its height. Each backend converts them
// with the metrics of the template's font, so a dialog keeps its proportions
// on every platform.
#pragma once

#include <cstdint>
#include <vector>

enum class ControlKind {
    GroupBox,
    Static,
    PushButton,
    DefPushButton,
    ComboBox,  // drop-down with an edit field
    Edit,
    Progress,
    Icon,  // static picture of icon `iconId`
};

struct ControlTemplate {
    ControlKind kind;
    int id;            // -1 for controls the code never addresses
    const char* text;  // caption or initial text; may be empty, never null
    int x, y, cx, cy;  // dialog units
    bool disabled = false;
    bool hidden = false;
    bool tabStop = false;
    bool vscroll = false;      // combo box: vertical scroll bar in the list
    bool autoHScroll = false;  // edit: scrolls horizontally as text is typed
    bool password = false;     // edit: marks for what is typed, never the text (ES_PASSWORD)
    bool border = false;       // edit, progress
    bool smooth = false;       // progress: a continuous bar, not blocks
    int iconId = 0;            // ControlKind::Icon
    bool large = false;        // static: text in a large bold font, for a result seen from afar
    bool center = false;       // static: text centred in its box
    bool ellipsis = false;     // static: one line, cut with "..." where it would leave its box
};

struct DialogTemplate {
    unsigned id;
    const char* caption;
    int cx, cy;  // dialog units
    const char* fontFace;
    int fontPointSize;
    bool systemMenu;
    bool appWindow;                         // has a taskbar button of its own
    std::vector<ControlTemplate> controls;  // in tab order
};
