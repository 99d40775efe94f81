// GTK as the backend includes it. The framework's header comes first: GLib
// defines TRUE and FALSE as macros, which would otherwise rewrite the
// framework's own constants of those names as they are declared.
#pragma once

// clang-format off
#include "framework/afxwin.h"
#include <gtk/gtk.h>
// clang-format on
