// The application's icons, drawn rather than loaded. Windows takes them
// from the resource file; here there is no such file, so the application
// supplies a drawing for each (FindIconDrawing), which is made once at
// both system sizes and kept for the life of the process.
#include <map>
#include <memory>

#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"

namespace gtk {
namespace {

GdkPixbuf* Render(IconDrawing draw, int size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size / 32.0, size / 32.0);
    draw(cr);
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
    const IconDrawing draw = FindIconDrawing(id);
    if (draw == nullptr) {
        return nullptr;
    }
    static IconStore store;
    auto& slot = store.icons[id];
    if (!slot) {
        slot = std::make_unique<HICON__>();
        slot->big = Render(draw, 32);
        slot->small = Render(draw, 16);
    }
    return slot.get();
}

}  // namespace gtk
