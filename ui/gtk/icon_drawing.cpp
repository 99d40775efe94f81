// The application's icon as cairo drawing operations, the one source of
// the picture for the window and for the desktop's icon files.
#include "ui/gtk/icon_drawing.h"

#include <numbers>

// Edges lie on even coordinates of the 32 x 32 grid, so they stay sharp at
// half size too.
void DrawAppIcon(cairo_t* cr) {
    // Pins first, so the body covers their inner ends.
    cairo_set_source_rgb(cr, 0.69, 0.75, 0.77);
    for (int i = 0; i < 4; ++i) {
        cairo_rectangle(cr, 2, 12 + i * 4, 28, 2);
    }
    cairo_fill(cr);

    // Body.
    const double x0 = 6, y0 = 8, x1 = 26, y1 = 30, r = 2;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - r, y0 + r, r, -std::numbers::pi / 2, 0);
    cairo_arc(cr, x1 - r, y1 - r, r, 0, std::numbers::pi / 2);
    cairo_arc(cr, x0 + r, y1 - r, r, std::numbers::pi / 2, std::numbers::pi);
    cairo_arc(cr, x0 + r, y0 + r, r, std::numbers::pi, 3 * std::numbers::pi / 2);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.18, 0.24, 0.27);
    cairo_fill(cr);

    // The arrow: a shaft from the top edge and a head that ends inside the
    // body, outlined in white so it stands out on the dark chip.
    cairo_move_to(cr, 12, 0);
    cairo_line_to(cr, 20, 0);
    cairo_line_to(cr, 20, 14);
    cairo_line_to(cr, 26, 14);
    cairo_line_to(cr, 16, 26);
    cairo_line_to(cr, 6, 14);
    cairo_line_to(cr, 12, 14);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.20, 0.66, 0.29);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
}
