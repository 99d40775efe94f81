// The application's icons on GTK, by resource id: the one it has is drawn
// (icon_drawing.h).
#include "framework/gtk/gtk_backend.h"
#include "ui/gtk/icon_drawing.h"
#include "ui/resource.h"

namespace gtk {

IconDrawing FindIconDrawing(UINT nIDResource) {
    return nIDResource == IDR_MAINFRAME ? &DrawAppIcon : nullptr;
}

}  // namespace gtk
