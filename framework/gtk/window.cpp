// GTK windows: dialogs built from their templates, their controls, the
// context menu that stands in for the system menu, modal loops, icons and
// painting while minimized.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <fontconfig/fontconfig.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <string>

#include "framework/dialog_template.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"

namespace gtkfw {
namespace {

constexpr char kCommandKey[] = "dt-command";

// --- The dialog font. ----------------------------------------------------------------

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

int MulDiv(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

struct Units {
    int cx, cy;
    int X(int du) const { return MulDiv(du, cx, 4); }
    int Y(int du) const { return MulDiv(du, cy, 8); }
};

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

// Turns "&About" into "_About": the mnemonic marks of the classic menus
// into GTK's. "&&" is a literal ampersand, "_" must be doubled.
std::string ToMnemonic(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (text[i] == '_') {
            out += "__";
        } else {
            out += text[i];
        }
    }
    return out;
}

// --- Control signals. ----------------------------------------------------------------

void SendCommand(CWnd* dialog, int id, UINT code) {
    dialog->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), code), 0);
}

void OnButtonClicked(GtkButton*, gpointer data) {
    CWnd* control = static_cast<CWnd*>(data);
    WindowImpl* c = control->Impl();
    if (c->quiet == 0 && !c->destroyed) {
        SendCommand(c->dialog, control->GetDlgCtrlID(), BN_CLICKED);
    }
}

// A choice from the list changes the selection; typing in the edit field
// makes GTK drop its active row (-1), which is no selection change here.
void OnComboChanged(GtkComboBox* combo, gpointer data) {
    CWnd* control = static_cast<CWnd*>(data);
    WindowImpl* c = control->Impl();
    const int active = gtk_combo_box_get_active(combo);
    if (c->quiet != 0 || c->destroyed || active < 0) {
        return;
    }
    c->curSel = active;
    SendCommand(c->dialog, control->GetDlgCtrlID(), CBN_SELCHANGE);
}

struct MenuCommand {
    CWnd* dialog;
    UINT id;
};

gboolean DeliverMenuCommand(gpointer data) {
    const MenuCommand* command = static_cast<MenuCommand*>(data);
    if (IsLive(command->dialog)) {
        command->dialog->SendMessage(WM_SYSCOMMAND, command->id, 0);
    }
    return G_SOURCE_REMOVE;
}

void DeleteMenuCommand(gpointer data) {
    delete static_cast<MenuCommand*>(data);
}

// The system menu sends its command once its own loop has ended, as
// Windows does; a modal dialog opened by the command then starts with no
// menu up.
void OnMenuItemActivated(GtkMenuItem* item, gpointer data) {
    const auto id =
        static_cast<UINT>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), kCommandKey)));
    g_idle_add_full(G_PRIORITY_DEFAULT, &DeliverMenuCommand,
                    new MenuCommand{static_cast<CWnd*>(data), id}, &DeleteMenuCommand);
}

// --- Dialog signals. -----------------------------------------------------------------

// The caption's close box: SC_CLOSE, which ends a dialog as Cancel.
gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<CWnd*>(data)->SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;  // the dialog decides whether its window goes
}

gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer data) {
    CWnd* dialog = static_cast<CWnd*>(data);
    const guint mods = event->state & gtk_accelerator_get_default_mod_mask();
    switch (event->keyval) {
        case GDK_KEY_Escape:
            if (mods == 0) {
                SendCommand(dialog, IDCANCEL, BN_CLICKED);
                return TRUE;
            }
            break;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            // A focused push button takes Enter itself (GTK activates it);
            // anywhere else Enter is OK.
            if (mods == 0 && !GTK_IS_BUTTON(gtk_window_get_focus(GTK_WINDOW(window)))) {
                SendCommand(dialog, IDOK, BN_CLICKED);
                return TRUE;
            }
            break;
        case GDK_KEY_space:
            if (mods == GDK_MOD1_MASK) {  // Alt+Space: the system menu
                return PopUpSystemMenu(*dialog, reinterpret_cast<GdkEvent*>(event)) != nullptr;
            }
            break;
        case GDK_KEY_Menu:
            if (mods == 0) {
                return PopUpSystemMenu(*dialog, reinterpret_cast<GdkEvent*>(event)) != nullptr;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

void OnRightClick(GtkGestureMultiPress* gesture, gint, gdouble, gdouble, gpointer data) {
    GtkGesture* g = GTK_GESTURE(gesture);
    const GdkEvent* event = gtk_gesture_get_last_event(g, gtk_gesture_get_last_updated_sequence(g));
    if (PopUpSystemMenu(*static_cast<CWnd*>(data), event) != nullptr) {
        gtk_gesture_set_state(g, GTK_EVENT_SEQUENCE_CLAIMED);
    }
}

// Drawing an iconified window is what WM_PAINT is for; the dialog's handler
// draws its icon through CPaintDC. Otherwise GTK draws as usual.
gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    CWnd* dialog = static_cast<CWnd*>(data);
    if (!dialog->IsIconic()) {
        return FALSE;
    }
    dialog->Impl()->paint.cr = cr;
    dialog->SendMessage(WM_PAINT);
    dialog->Impl()->paint.cr = nullptr;
    return TRUE;
}

// No minimize or maximize box, and no resizing: tell the window manager.
void OnRealize(GtkWidget* window, gpointer) {
    GdkWindow* w = gtk_widget_get_window(window);
    gdk_window_set_functions(w, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    gdk_window_set_decorations(
        w, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

std::function<void(CWnd*, GtkWindow*)>& ModalObserver() {
    static std::function<void(CWnd*, GtkWindow*)> observer;
    return observer;
}

struct ModalShown {
    CWnd* dialog;
    GtkWindow* window;
};

gboolean TellModalShown(gpointer data) {
    auto* shown = static_cast<ModalShown*>(data);
    const bool stillUp = shown->dialog ? IsLive(shown->dialog) && !shown->dialog->Impl()->ended
                                       : gtk_widget_get_visible(GTK_WIDGET(shown->window));
    // Copied: the observer may replace itself.
    auto observer = ModalObserver();
    if (stillUp && observer) {
        observer(shown->dialog, shown->window);
    }
    return G_SOURCE_REMOVE;
}

void DeleteModalShown(gpointer data) {
    auto* shown = static_cast<ModalShown*>(data);
    g_object_unref(shown->window);
    delete shown;
}

// --- Building controls. --------------------------------------------------------------

GtkWidget* MakeControl(const ControlTemplate& ct, CWnd* control, const Units& u) {
    WindowImpl& c = *control->Impl();
    GtkWidget* widget = nullptr;
    int height = u.Y(ct.cy);
    switch (ct.kind) {
        case ControlKind::GroupBox:
            widget = gtk_frame_new(ct.text);
            break;
        case ControlKind::Static:
            widget = gtk_label_new(ct.text);
            gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
            gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
            break;
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            widget = gtk_button_new_with_label(ct.text);
            gtk_widget_set_can_default(widget, ct.kind == ControlKind::DefPushButton);
            g_signal_connect(widget, "clicked", G_CALLBACK(&OnButtonClicked), control);
            break;
        case ControlKind::ComboBox:
            widget = gtk_combo_box_text_new_with_entry();
            c.entry = gtk_bin_get_child(GTK_BIN(widget));
            gtk_entry_set_width_chars(GTK_ENTRY(c.entry), 1);
            // The template's height includes the dropped-down list; the box
            // itself is as tall as the font needs.
            height = u.cy + 8;
            g_signal_connect(widget, "changed", G_CALLBACK(&OnComboChanged), control);
            break;
        case ControlKind::Edit:
            widget = gtk_entry_new();
            c.entry = widget;
            gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
            gtk_entry_set_has_frame(GTK_ENTRY(widget), ct.border);
            gtk_entry_set_text(GTK_ENTRY(widget), ct.text);
            break;
        case ControlKind::Progress:
            widget = gtk_progress_bar_new();
            break;
        case ControlKind::Icon: {
            HICON icon = IconForResource(static_cast<UINT>(ct.iconId));
            widget = icon ? gtk_image_new_from_pixbuf(icon->big) : gtk_image_new();
            gtk_widget_set_size_request(widget, 32, 32);
            break;
        }
    }
    g_object_ref_sink(widget);
    c.widget = widget;
    if (ct.kind != ControlKind::Icon) {
        gtk_widget_set_size_request(widget, u.X(ct.cx), height);
    }
    gtk_widget_set_sensitive(widget, !ct.disabled);
    return widget;
}

}  // namespace

// --- Backend services. ----------------------------------------------------------------

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

GtkWidget* WidgetOf(const CWnd& wnd) {
    return wnd.Impl() ? wnd.Impl()->widget : nullptr;
}

void SetModalObserver(std::function<void(CWnd*, GtkWindow*)> observer) {
    ModalObserver() = std::move(observer);
}

void NoteModalShown(CWnd* dialog, GtkWindow* window) {
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &TellModalShown,
                    new ModalShown{dialog, GTK_WINDOW(g_object_ref(window))}, &DeleteModalShown);
}

CWnd* DefaultOwner(const CWnd* self) {
    CWinApp* app = AfxGetApp();
    CWnd* main = app ? app->m_pMainWnd : nullptr;
    return main && main != self && main->IsWindowAlive() ? main : nullptr;
}

GtkMenu* PopUpSystemMenu(CWnd& dialog, const GdkEvent* trigger) {
    WindowImpl& w = *dialog.Impl();
    CMenu* menu = dialog.GetSystemMenu(FALSE);
    if (!w.alive || menu == nullptr || menu->m_items.empty() ||
        !gtk_widget_is_sensitive(w.widget)) {
        return nullptr;
    }
    if (w.popup == nullptr) {
        w.popup = gtk_menu_new();
        // Attached: it goes with the window.
        gtk_menu_attach_to_widget(GTK_MENU(w.popup), w.widget, nullptr);
    }
    // Rendered from the menu's items each time it opens.
    GList* old = gtk_container_get_children(GTK_CONTAINER(w.popup));
    for (GList* l = old; l != nullptr; l = l->next) {
        gtk_widget_destroy(GTK_WIDGET(l->data));
    }
    g_list_free(old);
    for (const CMenu::Item& item : menu->m_items) {
        GtkWidget* mi = nullptr;
        if (item.flags & MF_SEPARATOR) {
            mi = gtk_separator_menu_item_new();
        } else {
            mi = gtk_menu_item_new_with_mnemonic(ToMnemonic(item.text).c_str());
            g_object_set_data(G_OBJECT(mi), kCommandKey,
                              GUINT_TO_POINTER(static_cast<guint>(item.id)));
            g_signal_connect(mi, "activate", G_CALLBACK(&OnMenuItemActivated), &dialog);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(w.popup), mi);
    }
    gtk_widget_show_all(w.popup);
    if (trigger && (trigger->type == GDK_BUTTON_PRESS || trigger->type == GDK_BUTTON_RELEASE)) {
        gtk_menu_popup_at_pointer(GTK_MENU(w.popup), trigger);
    } else {
        gtk_menu_popup_at_widget(GTK_MENU(w.popup), w.fixed, GDK_GRAVITY_NORTH_WEST,
                                 GDK_GRAVITY_NORTH_WEST, trigger);
    }
    return GTK_MENU(w.popup);
}

ModalOwner::ModalOwner(CWnd* owner) {
    if (owner == nullptr || !owner->IsWindowAlive() || !owner->IsWindowEnabled()) {
        return;
    }
    m_owner = owner;
    if (GtkWidget* window = WidgetOf(*owner)) {
        m_focus = gtk_window_get_focus(GTK_WINDOW(window));
        if (m_focus) {
            g_object_add_weak_pointer(G_OBJECT(m_focus), reinterpret_cast<gpointer*>(&m_focus));
        }
    }
    owner->EnableWindow(FALSE);
}

ModalOwner::~ModalOwner() {
    if (m_owner && m_owner->IsWindowAlive()) {
        m_owner->EnableWindow(TRUE);
        if (m_focus && gtk_widget_is_sensitive(m_focus) && gtk_widget_get_visible(m_focus)) {
            gtk_widget_grab_focus(m_focus);
        }
    }
    if (m_focus) {
        g_object_remove_weak_pointer(G_OBJECT(m_focus), reinterpret_cast<gpointer*>(&m_focus));
    }
}

std::vector<CDialog*>& ModalDialogs() {
    static std::vector<CDialog*> running;
    return running;
}

void EndAllModalLoops() {
    GList* windows = gtk_window_list_toplevels();
    for (GList* l = windows; l != nullptr; l = l->next) {
        if (GTK_IS_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) {
            gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_CANCEL);
        }
    }
    g_list_free(windows);
    const std::vector<CDialog*> running = ModalDialogs();
    for (auto it = running.rbegin(); it != running.rend(); ++it) {
        (*it)->EndDialog(IDCANCEL);
    }
}

bool DialogEnded(const CWnd& dialog, int* result) {
    const WindowImpl* w = dialog.Impl();
    if (!w->ended) {
        return false;
    }
    if (result) {
        *result = w->result;
    }
    return true;
}

}  // namespace gtkfw

// --- WindowImpl ---------------------------------------------------------------------------

WindowImpl::~WindowImpl() {
    // The window goes before the controls whose CWnds its signals name.
    if (widget && !isControl && alive) {
        gtk_widget_destroy(widget);
    }
    controls.clear();
    if (rightClick) {
        g_object_unref(rightClick);
    }
    if (widget) {
        g_object_unref(widget);
    }
}

// --- CWnd ---------------------------------------------------------------------------------

CWnd::CWnd() : m_pImpl(std::make_unique<WindowImpl>()) {}

WindowData& CWnd::Data() const {
    return *m_pImpl;
}

CWnd::~CWnd() {
    if (m_pImpl && !m_pImpl->isControl) {
        gtkfw::ForgetWindow(this);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl& w = *m_pImpl;
    if (!w.isControl) {
        return WindowProc(message, wParam, lParam);
    }
    const bool live = !w.destroyed;
    auto setFraction = [&] {
        if (live && w.kind == ControlKind::Progress) {
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w.widget), w.progress.Fraction());
        }
    };
    switch (message) {
        case CB_ADDSTRING: {
            if (w.kind != ControlKind::ComboBox) {
                return CB_ERR;
            }
            const char* text = reinterpret_cast<const char*>(lParam);
            if (live) {
                gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w.widget), text ? text : "");
            }
            return SendMessage(CB_GETCOUNT) - 1;
        }
        case CB_GETCOUNT:
            if (w.kind != ControlKind::ComboBox || !live) {
                return 0;
            }
            return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(w.widget)),
                                                  nullptr);
        case CB_SETCURSEL: {
            if (w.kind != ControlKind::ComboBox) {
                return CB_ERR;
            }
            const auto count = static_cast<WPARAM>(SendMessage(CB_GETCOUNT));
            w.curSel = wParam < count ? static_cast<int>(wParam) : -1;
            if (live) {
                ++w.quiet;
                gtk_combo_box_set_active(GTK_COMBO_BOX(w.widget), w.curSel);
                if (w.curSel < 0) {
                    gtk_entry_set_text(GTK_ENTRY(w.entry), "");
                }
                --w.quiet;
            }
            return w.curSel < 0 ? CB_ERR : w.curSel;
        }
        case CB_GETCURSEL:
            return w.kind == ControlKind::ComboBox ? w.curSel : CB_ERR;
        case CB_GETLBTEXT: {
            if (w.kind != ControlKind::ComboBox || !live) {
                return CB_ERR;
            }
            GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(w.widget));
            GtkTreeIter iter;
            if (!gtk_tree_model_iter_nth_child(model, &iter, nullptr, static_cast<gint>(wParam))) {
                return CB_ERR;
            }
            gchar* text = nullptr;
            gtk_tree_model_get(model, &iter,
                               gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(w.widget)), &text,
                               -1);
            std::string* out = reinterpret_cast<std::string*>(lParam);
            *out = text ? text : "";
            g_free(text);
            return static_cast<LRESULT>(out->size());
        }
        case PBM_SETRANGE: {
            const LRESULT old = w.progress.SetRange(lParam);
            setFraction();
            return old;
        }
        case PBM_SETPOS: {
            const LRESULT old = w.progress.SetPos(wParam);
            setFraction();
            return old;
        }
        case PBM_GETRANGE:
            return w.progress.Range(wParam);
        case PBM_GETPOS:
            return w.progress.pos;
        default:
            return 0;
    }
}

void CWnd::SetWindowText(LPCTSTR text) {
    WindowImpl& w = *m_pImpl;
    w.text = text ? text : "";
    if (w.widget == nullptr || w.destroyed || (!w.isControl && !w.alive)) {
        return;
    }
    if (!w.isControl) {
        gtk_window_set_title(GTK_WINDOW(w.widget), w.text.c_str());
        return;
    }
    ++w.quiet;
    switch (w.kind) {
        case ControlKind::GroupBox:
            gtk_frame_set_label(GTK_FRAME(w.widget), w.text.c_str());
            break;
        case ControlKind::Static:
            gtk_label_set_text(GTK_LABEL(w.widget), w.text.c_str());
            break;
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            gtk_button_set_label(GTK_BUTTON(w.widget), w.text.c_str());
            break;
        case ControlKind::ComboBox:
        case ControlKind::Edit:
            gtk_entry_set_text(GTK_ENTRY(w.entry), w.text.c_str());
            break;
        case ControlKind::Progress:
        case ControlKind::Icon:
            break;
    }
    --w.quiet;
}

std::string CWnd::GetWindowText() const {
    const WindowImpl& w = *m_pImpl;
    if (w.widget == nullptr || w.destroyed || (!w.isControl && !w.alive)) {
        return w.text;
    }
    const char* shown = nullptr;
    if (!w.isControl) {
        shown = gtk_window_get_title(GTK_WINDOW(w.widget));
    } else if (w.entry) {
        shown = gtk_entry_get_text(GTK_ENTRY(w.entry));
    } else if (w.kind == ControlKind::GroupBox) {
        shown = gtk_frame_get_label(GTK_FRAME(w.widget));
    } else if (w.kind == ControlKind::PushButton || w.kind == ControlKind::DefPushButton) {
        shown = gtk_button_get_label(GTK_BUTTON(w.widget));
    } else if (w.kind == ControlKind::Static) {
        shown = gtk_label_get_text(GTK_LABEL(w.widget));
    } else {
        return w.text;
    }
    return shown ? shown : "";
}

BOOL CWnd::EnableWindow(BOOL enable) {
    WindowImpl& w = *m_pImpl;
    const BOOL wasDisabled = IsWindowEnabled() ? FALSE : TRUE;
    w.enabled = enable != FALSE;
    if (w.widget && !w.destroyed && (w.isControl || w.alive)) {
        gtk_widget_set_sensitive(w.widget, w.enabled);
    }
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    const WindowImpl& w = *m_pImpl;
    if (w.widget && !w.destroyed && (w.isControl || w.alive)) {
        return gtk_widget_get_sensitive(w.widget) ? TRUE : FALSE;
    }
    return w.enabled ? TRUE : FALSE;
}

BOOL CWnd::IsWindowVisible() const {
    const WindowImpl& w = *m_pImpl;
    if (w.widget && !w.destroyed && (w.isControl || w.alive)) {
        return gtk_widget_is_visible(w.widget) ? TRUE : FALSE;
    }
    return FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, void*) {
    if (m_pImpl->isControl || !m_pImpl->alive) {
        return 0;
    }
    gtkfw::ArmTimer(this, nIDEvent, nElapse);
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return gtkfw::DisarmTimer(this, nIDEvent) ? TRUE : FALSE;
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    if (m_pImpl->tmpl == nullptr || !m_pImpl->tmpl->systemMenu) {
        return nullptr;
    }
    if (bRevert) {
        m_pImpl->systemMenu.m_items.clear();
        return nullptr;
    }
    return &m_pImpl->systemMenu;
}

BOOL CWnd::IsIconic() const {
    const WindowImpl& w = *m_pImpl;
    if (w.isControl || !w.alive || !gtk_widget_get_realized(w.widget)) {
        return FALSE;
    }
    const GdkWindowState state = gdk_window_get_state(gtk_widget_get_window(w.widget));
    return (state & GDK_WINDOW_STATE_ICONIFIED) ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
    const WindowImpl& w = *m_pImpl;
    GtkWidget* area = w.isControl ? w.widget : w.fixed;
    int width = 0, height = 0;
    if (area && !w.destroyed && (w.isControl || w.alive)) {
        if (gtk_widget_get_realized(area)) {
            width = gtk_widget_get_allocated_width(area);
            height = gtk_widget_get_allocated_height(area);
        } else {
            gtk_widget_get_size_request(area, &width, &height);
        }
    }
    *rect = CRect{0, 0, std::max(width, 0), std::max(height, 0)};
}

bool CWnd::IsWindowAlive() const {
    return !m_pImpl->isControl && m_pImpl->alive;
}

BOOL CWnd::DestroyWindow() {
    WindowImpl& w = *m_pImpl;
    if (w.isControl || !w.alive) {
        return FALSE;
    }
    w.alive = false;
    w.ended = true;
    gtkfw::ForgetWindow(this);
    for (auto& control : w.controls) {
        WindowImpl& c = *control->Impl();
        // Keep what each control showed, for callers that still ask.
        c.text = control->GetWindowText();
        c.enabled = gtk_widget_get_sensitive(c.widget);
        c.destroyed = true;
    }
    w.text = gtk_window_get_title(GTK_WINDOW(w.widget)) ? gtk_window_get_title(GTK_WINDOW(w.widget))
                                                        : "";
    w.popup = nullptr;  // attached to the window, destroyed with it
    gtk_widget_destroy(w.widget);
    g_main_context_wakeup(nullptr);  // a modal loop waiting for this ends now
    OnPostDestroy();
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl& w = *m_pImpl;
    const LRESULT result = DrawnDefWindowProc(*this, message, wParam, lParam);
    switch (message) {
        case WM_SETICON:
            if (w.alive) {
                GList* list = nullptr;
                if (w.bigIcon) {
                    list = g_list_append(list, w.bigIcon->big);
                }
                if (w.smallIcon) {
                    list = g_list_append(list, w.smallIcon->small);
                }
                gtk_window_set_icon_list(GTK_WINDOW(w.widget), list);
                g_list_free(list);
            }
            break;
        case WM_ICONERASEBKGND:
            if (w.paint.cr && w.alive) {
                gtk_render_background(gtk_widget_get_style_context(w.widget), w.paint.cr, 0, 0,
                                      gtk_widget_get_allocated_width(w.widget),
                                      gtk_widget_get_allocated_height(w.widget));
            }
            break;
        default:
            break;
    }
    return result;
}

// --- CDialog ------------------------------------------------------------------------------

CDialog::~CDialog() = default;

BOOL CDialog::Create() {
    const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
    if (t == nullptr || m_pImpl->alive) {
        return FALSE;
    }
    const std::string styleClass = gtkfw::StyleClassFor(t->fontFace, t->fontPointSize);
    const gtkfw::BaseUnits base = gtkfw::DialogBaseUnits(t->fontFace, t->fontPointSize);
    const gtkfw::Units u{base.cx, base.cy};

    // A window created before (and destroyed) is replaced.
    m_pImpl = std::make_unique<WindowImpl>();
    WindowImpl& w = *m_pImpl;
    w.tmpl = t;
    w.text = t->caption;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    w.widget = GTK_WIDGET(g_object_ref(window));  // GTK holds toplevels; so do we
    gtk_window_set_title(GTK_WINDOW(window), t->caption);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(window), styleClass.c_str());
    gtk_window_set_type_hint(GTK_WINDOW(window), t->appWindow ? GDK_WINDOW_TYPE_HINT_NORMAL
                                                              : GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), !t->appWindow);
    CWnd* parent = m_pParentWnd ? m_pParentWnd : gtkfw::DefaultOwner(this);
    if (parent && parent->IsWindowAlive()) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(parent->Impl()->widget));
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }

    w.fixed = gtk_fixed_new();
    gtk_widget_set_size_request(w.fixed, u.X(t->cx), u.Y(t->cy));
    gtk_container_add(GTK_CONTAINER(window), w.fixed);

    for (const ControlTemplate& ct : t->controls) {
        auto control = MakeDrawnControl(this, ct);
        GtkWidget* widget = gtkfw::MakeControl(ct, control.get(), u);
        gtk_fixed_put(GTK_FIXED(w.fixed), widget, u.X(ct.x), u.Y(ct.y));
        if (!ct.hidden) {
            gtk_widget_show_all(widget);
        }
        w.controls.push_back(std::move(control));
    }
    gtk_widget_show(w.fixed);

    g_signal_connect(window, "delete-event", G_CALLBACK(&gtkfw::OnDeleteEvent), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(&gtkfw::OnKeyPress), this);
    g_signal_connect(window, "draw", G_CALLBACK(&gtkfw::OnDraw), this);
    g_signal_connect(window, "realize", G_CALLBACK(&gtkfw::OnRealize), nullptr);
    // Right-click anywhere, before any control sees it, opens the menu.
    w.rightClick = gtk_gesture_multi_press_new(window);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(w.rightClick), GDK_BUTTON_SECONDARY);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(w.rightClick),
                                               GTK_PHASE_CAPTURE);
    g_signal_connect(w.rightClick, "pressed", G_CALLBACK(&gtkfw::OnRightClick), this);

    w.alive = true;
    gtkfw::WindowCreated(this);

    const BOOL focusDefault = OnInitDialog();
    if (!w.alive) {
        return TRUE;  // ended in its own initialisation
    }
    for (const auto& control : w.controls) {
        const WindowImpl& c = *control->m_pImpl;
        if (c.kind == ControlKind::DefPushButton) {
            gtk_widget_grab_default(c.widget);
        }
    }
    gtk_widget_show(window);
    if (focusDefault) {
        // The first enabled, visible tab stop takes the focus.
        for (std::size_t i = 0; i < t->controls.size(); ++i) {
            const WindowImpl& c = *w.controls[i]->m_pImpl;
            if (t->controls[i].tabStop && gtk_widget_is_sensitive(c.widget) &&
                gtk_widget_get_visible(c.widget)) {
                gtk_widget_grab_focus(c.entry ? c.entry : c.widget);
                break;
            }
        }
    }
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (!Create()) {
        return -1;
    }
    const int result = [this] {
        // The owner is disabled while a modal dialog is up.
        const gtkfw::ModalOwner owner(m_pParentWnd ? m_pParentWnd : gtkfw::DefaultOwner(this));
        if (m_pImpl->alive) {
            gtkfw::NoteModalShown(this, GTK_WINDOW(m_pImpl->widget));
        }
        gtkfw::ModalDialogs().push_back(this);
        while (m_pImpl->alive && !m_pImpl->ended) {
            g_main_context_iteration(nullptr, TRUE);
        }
        std::erase(gtkfw::ModalDialogs(), this);
        return m_pImpl->result;
    }();
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int nResult) {
    m_pImpl->ended = true;
    m_pImpl->result = nResult;
    if (m_pImpl->alive) {
        gtk_widget_hide(m_pImpl->widget);
    }
    g_main_context_wakeup(nullptr);
}

// --- Odds and ends ------------------------------------------------------------------------

int AfxGetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return gtkfw::IconForResource(nIDResource);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd), m_hDC(&wnd->Impl()->paint) {}
CPaintDC::~CPaintDC() = default;

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    if (m_hDC->cr == nullptr || hIcon == nullptr) {
        return FALSE;
    }
    gdk_cairo_set_source_pixbuf(m_hDC->cr, hIcon->big, x, y);
    cairo_paint(m_hDC->cr);
    return TRUE;
}
