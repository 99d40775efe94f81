// The application's icon: a chip with an arrow coming down into it, for
// "download into the machine". Drawn, not loaded, so that the window (at
// the system's two sizes) and the desktop's icon files (every hicolor size,
// made at build time by make-icons) show the same picture.
#pragma once

#include <cairo.h>

// Draws the icon on a 32 x 32 grid; scale the context for other sizes.
void DrawAppIcon(cairo_t* cr);
