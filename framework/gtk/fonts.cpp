// The dialog font of the GTK backend: the face the templates name, made
// to resolve to an installed one, its style for the windows that use it,
// and its dialog base units, which turn template coordinates into pixels.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <fontconfig/fontconfig.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"

namespace gtk {
namespace {

int MulDiv(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

// The templates name the classic Chinese dialog face, which a Linux system
// rarely has under that name. Fontconfig resolves it for Latin text to a
// Latin face; we want what it resolves to for the language the dialogs were
// made for, an installed CJK face, and make that the face's alias for this
// process.
void AliasFace(const char* face) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face));
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("zh-cn"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcChar8* family = nullptr;
    std::string resolved;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch) {
        resolved = reinterpret_cast<const char*>(family);
    }
    if (match) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    if (resolved.empty() || resolved == face) {
        return;
    }
    gchar* name = g_markup_escape_text(face, -1);
    gchar* substitute = g_markup_escape_text(resolved.c_str(), -1);
    gchar* rules = g_strdup_printf(
        "<?xml version=\"1.0\"?><fontconfig><match target=\"pattern\">"
        "<test qual=\"any\" name=\"family\"><string>%s</string></test>"
        "<edit name=\"family\" mode=\"append\" binding=\"strong\"><string>%s</string></edit>"
        "</match></fontconfig>",
        name, substitute);
    FcConfigParseAndLoadFromMemory(FcConfigGetCurrent(), reinterpret_cast<const FcChar8*>(rules),
                                   FcTrue);
    g_free(rules);
    g_free(substitute);
    g_free(name);
    PangoFontMap* map = pango_cairo_font_map_get_default();
    if (PANGO_IS_FC_FONT_MAP(map)) {
        pango_fc_font_map_config_changed(PANGO_FC_FONT_MAP(map));
    }
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The dialog font for the windows of one style class, and controls as
// compact as the classic ones, so that each fits the rectangle its
// template gives it. A group box's caption sits a little in from its
// corner, as on Windows.
std::string CssFor(const std::string& styleClass, const char* face, int pointSize) {
    std::string css = R"(
@W, @W * { font-family: "@FACE"; font-size: @SIZEpt; }
@W frame > label { margin: 0 2px 0 6px; }
@W button { min-height: 0; min-width: 0; padding: 0 4px; }
@W entry { min-height: 0; padding: 0 3px; }
@W combobox button { padding: 0 3px; }
@W progressbar trough, @W progressbar progress { min-height: 0; }
)";
    ReplaceAll(css, "@W", "window." + styleClass);
    ReplaceAll(css, "@FACE", face);
    ReplaceAll(css, "@SIZE", std::to_string(pointSize));
    return css;
}

}  // namespace

std::string StyleClassFor(const char* face, int pointSize) {
    static std::vector<std::pair<std::string, int>> fonts;
    const std::pair<std::string, int> font{face, pointSize};
    auto it = std::find(fonts.begin(), fonts.end(), font);
    const auto index = static_cast<std::size_t>(it - fonts.begin());
    const std::string name = "dt-font-" + std::to_string(index);
    if (it == fonts.end()) {
        fonts.push_back(font);
        AliasFace(face);
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, CssFor(name, face, pointSize).c_str(), -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
    }
    return name;
}

BaseUnits DialogBaseUnits(const char* fontFace, int pointSize) {
    StyleClassFor(fontFace, pointSize);  // the face's alias first
    PangoContext* context = gdk_pango_context_get();
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, fontFace);
    pango_font_description_set_size(desc, pointSize * PANGO_SCALE);

    PangoFontMetrics* metrics = pango_context_get_metrics(context, desc, nullptr);
    const int height = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics)) +
                       PANGO_PIXELS(pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);

    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    pango_font_description_free(desc);
    g_object_unref(context);
    // Windows rounds the average of the 52 letters this way.
    return BaseUnits{(width / 26 + 1) / 2, height};
}

int BaseUnits::X(int du) const {
    return MulDiv(du, cx, 4);
}
int BaseUnits::Y(int du) const {
    return MulDiv(du, cy, 8);
}

}  // namespace gtk
