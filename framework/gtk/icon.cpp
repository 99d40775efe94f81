// The program's icon, drawn rather than loaded: a chip with an arrow coming
// down into it, for "download into the machine". Windows takes it from the
// resource file; here there is no such file, so the picture is made once at
// both system sizes and kept for the life of the process.
#include <map>
#include <memory>

#include "framework/gtk/window_impl.h"
#include "ui/resource.h"

namespace gtkfw {
namespace {

// Draws on a 32 x 32 grid; the 16 x 16 icon scales it, so edges lie on
// even coordinates and stay sharp at half size.
void DrawChipWithArrow(cairo_t* cr) {
    // Pins first, so the body covers their inner ends.
    cairo_set_source_rgb(cr, 0.69, 0.75, 0.77);
    for (int i = 0; i < 4; ++i) {
        cairo_rectangle(cr, 2, 12 + i * 4, 28, 2);
    }
    cairo_fill(cr);

    // Body.
    const double x0 = 6, y0 = 8, x1 = 26, y1 = 30, r = 2;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - r, y0 + r, r, -G_PI / 2, 0);
    cairo_arc(cr, x1 - r, y1 - r, r, 0, G_PI / 2);
    cairo_arc(cr, x0 + r, y1 - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, x0 + r, y0 + r, r, G_PI, 3 * G_PI / 2);
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

GdkPixbuf* Render(int size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size / 32.0, size / 32.0);
    DrawChipWithArrow(cr);
    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
    cairo_surface_destroy(surface);
    return pixbuf;
}

struct IconStore {
    ~IconStore() {
        for (auto& [id, icon] : icons) {
            g_object_unref(icon->big);
            g_object_unref(icon->small);
        }
    }
    std::map<UINT, std::unique_ptr<HICON__>> icons;
};

}  // namespace

HICON IconForResource(UINT id) {
    if (id != IDR_MAINFRAME) {
        return nullptr;  // the only icon the program has
    }
    static IconStore store;
    auto& slot = store.icons[id];
    if (!slot) {
        slot = std::make_unique<HICON__>();
        slot->big = Render(32);
        slot->small = Render(16);
    }
    return slot.get();
}

}  // namespace gtkfw
