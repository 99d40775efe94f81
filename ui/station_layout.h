// The station window's grid: how many panels a row, and the sizes the
// layouts (ui/resources.cpp) and the window's code agree on. Dialog units.
#pragma once

#include "ui/resource.h"

inline constexpr int kMaxStationPanels = 16;
inline constexpr int kStationMargin = 7;
inline constexpr int kStationGap = 4;
inline constexpr int kStationHeader = 66;  // from the top to the first row of panels
inline constexpr int kStationPanelWidth = 176;
inline constexpr int kStationPanelHeight = 72;
inline constexpr int kStationButtonWidth = 50;
inline constexpr int kStationMinWidth = 470;  // room for the header

struct StationGrid {
    int columns, rows;
    int panelWidth;
    int width, height;  // the window's client area
};

// 1 panel alone, up to 4 in 2 columns, up to 9 in 3, up to 16 in 4: at 16
// the window fits a screen of 1366 x 768.
constexpr StationGrid StationGridFor(int n) {
    const int columns = n <= 1 ? 1 : n <= 4 ? 2 : n <= 9 ? 3 : 4;
    const int rows = (n + columns - 1) / columns;
    const int natural =
        2 * kStationMargin + columns * kStationPanelWidth + (columns - 1) * kStationGap;
    const int width = natural > kStationMinWidth ? natural : kStationMinWidth;
    const int panelWidth = (width - 2 * kStationMargin - (columns - 1) * kStationGap) / columns;
    const int height =
        kStationHeader + rows * kStationPanelHeight + (rows - 1) * kStationGap + kStationMargin;
    return {columns, rows, panelWidth, width, height};
}

// The id of a field (PANEL_*) of the panel of position index (from 0).
constexpr int PanelControlId(int index, int field) {
    return IDC_PANEL + 16 * index + field;
}
