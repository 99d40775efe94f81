// make-icons: writes the application's icon as PNG files for the desktop's
// hicolor icon theme, at build time, from the same drawing the window uses.
//
//   make-icons FOLDER NAME SIZE...
//
// writes FOLDER/SIZExSIZE/apps/NAME.png for each SIZE.
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "ui/gtk/icon_drawing.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make-icons FOLDER NAME SIZE...\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::string name = argv[2];
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "make-icons: %s is no icon size\n", argv[i]);
            return 2;
        }
        const std::string dimensions = std::to_string(size) + "x" + std::to_string(size);
        const auto dir = folder / dimensions / "apps";
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            std::fprintf(stderr, "make-icons: %s: %s\n", dir.c_str(), ec.message().c_str());
            return 1;
        }
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, size / 32.0, size / 32.0);
        DrawAppIcon(cr);
        cairo_destroy(cr);
        const auto file = dir / (name + ".png");
        const cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
        cairo_surface_destroy(surface);
        if (status != CAIRO_STATUS_SUCCESS) {
            std::fprintf(stderr, "make-icons: writing %s: %s\n", file.c_str(),
                         cairo_status_to_string(status));
            return 1;
        }
    }
    return 0;
}
