// A progress bar's range and position, kept as the platform's control keeps
// them, for the backends that draw the bar themselves (headless, GTK).
//
// PBM_SETRANGE takes 16-bit bounds packed in one LPARAM and answers with the
// old ones packed the same way; PBM_SETPOS answers with the old position.
// The position always lies within the range: a position outside it is
// taken as the nearer bound, and a new range pulls the position inside.
#pragma once

#include <algorithm>

#include "framework/afxwin.h"

struct ProgressState {
    int low = 0, high = 100;  // the platform's default range
    int pos = 0;

    LRESULT SetRange(LPARAM range) {
        const LRESULT old = MAKELPARAM(static_cast<UINT>(low), static_cast<UINT>(high));
        low = static_cast<int>(LOWORD(static_cast<WPARAM>(range)));
        high = static_cast<int>(HIWORD(static_cast<WPARAM>(range)));
        pos = std::clamp(pos, low, std::max(low, high));
        return old;
    }
    LRESULT SetPos(WPARAM value) {
        const LRESULT old = pos;
        pos = std::max(low, std::min(high, static_cast<int>(value)));
        return old;
    }
    // PBM_GETRANGE: wParam TRUE asks for the low bound.
    LRESULT Range(WPARAM wantLow) const { return wantLow ? low : high; }
    // How full the bar is, 0 to 1.
    double Fraction() const {
        const int span = high - low;
        return span > 0 ? std::clamp(static_cast<double>(pos - low) / span, 0.0, 1.0) : 0.0;
    }
};
