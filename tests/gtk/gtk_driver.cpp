// The test driver of the GTK backend.
#include "tests/gtk/gtk_driver.h"

#include <chrono>
#include <deque>

#include "framework/gtk/gtk_backend.h"
#include "framework/window_data.h"

namespace gtkdrv {
namespace {

struct State {
    bool installed = false;
    std::deque<ModalHandler> handlers;
    std::vector<std::string> mishaps;
};

State& TheState() {
    static State state;
    return state;
}

std::string Describe(CWnd* dialog, GtkWindow* window) {
    const char* title = gtk_window_get_title(window);
    std::string kind = dialog                          ? "dialog"
                       : GTK_IS_FILE_CHOOSER(window)   ? "file chooser"
                       : GTK_IS_MESSAGE_DIALOG(window) ? "message box"
                                                       : "window";
    return kind + " \"" + (title ? title : "") + "\"";
}

bool StillUp(CWnd* dialog, GtkWindow* window, bool responded) {
    if (dialog) {
        return dialog->IsWindowAlive() && !EndedWith(*dialog).has_value();
    }
    return !responded && gtk_widget_get_visible(GTK_WIDGET(window));
}

void Close(CWnd* dialog, GtkWindow* window) {
    if (dialog) {
        if (auto* d = dynamic_cast<CDialog*>(dialog)) {
            d->EndDialog(IDCANCEL);
        }
    } else if (GTK_IS_DIALOG(window)) {
        gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_CANCEL);
    }
}

void OnResponse(GtkDialog*, gint, gpointer flag) {
    *static_cast<bool*>(flag) = true;
}

void ModalShown(CWnd* dialog, GtkWindow* window) {
    State& s = TheState();
    if (s.handlers.empty()) {
        s.mishaps.push_back(Describe(dialog, window) + " opened with no handler waiting");
        Close(dialog, window);
        return;
    }
    ModalHandler handler = std::move(s.handlers.front());
    s.handlers.pop_front();
    bool responded = false;
    gulong id = 0;
    if (!dialog && GTK_IS_DIALOG(window)) {
        id = g_signal_connect(window, "response", G_CALLBACK(&OnResponse), &responded);
    }
    g_object_ref(window);
    const std::string description = Describe(dialog, window);
    handler(dialog, window);
    if (id != 0) {
        g_signal_handler_disconnect(window, id);
    }
    if (StillUp(dialog, window, responded)) {
        s.mishaps.push_back(description + " left open by its handler");
        Close(dialog, window);
    }
    g_object_unref(window);
}

void Install() {
    State& s = TheState();
    if (!s.installed) {
        s.installed = true;
        gtk::SetModalObserver(&ModalShown);
    }
}

gboolean Tick(gpointer) {
    return G_SOURCE_CONTINUE;
}

GdkDevice* Keyboard() {
    return gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
}

GdkDevice* Pointer() {
    return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
}

// An event for `target` of the kind the window system would send.
GdkEvent* NewSentEvent(GdkEventType type, GdkWindow* target) {
    GdkEvent* event = gdk_event_new(type);
    event->any.window = GDK_WINDOW(g_object_ref(target));
    event->any.send_event = TRUE;
    return event;
}

void SendKey(GdkWindow* target, GdkEventType type, guint keyval, GdkModifierType modifiers) {
    GdkEvent* event = NewSentEvent(type, target);
    event->key.time = GDK_CURRENT_TIME;
    event->key.state = modifiers;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                          keyval, &keys, &count) &&
        count > 0) {
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        event->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(event, Keyboard());
    gtk_main_do_event(event);
    gdk_event_free(event);
}

void SendFocusIn(GdkWindow* target) {
    GdkEvent* event = NewSentEvent(GDK_FOCUS_CHANGE, target);
    event->focus_change.in = TRUE;
    gdk_event_set_device(event, Keyboard());
    gtk_main_do_event(event);
    gdk_event_free(event);
}

// The first widget of a type inside a container, internal children included.
GtkWidget* FindInside(GtkWidget* container, GType type) {
    struct Search {
        GType type;
        GtkWidget* found;
    } search{type, nullptr};
    std::function<void(GtkWidget*)> visit = [&](GtkWidget* w) {
        if (search.found == nullptr && G_TYPE_CHECK_INSTANCE_TYPE(w, search.type)) {
            search.found = w;
        } else if (search.found == nullptr && GTK_IS_CONTAINER(w)) {
            gtk_container_forall(
                GTK_CONTAINER(w),
                [](GtkWidget* child, gpointer v) {
                    (*static_cast<std::function<void(GtkWidget*)>*>(v))(child);
                },
                &visit);
        }
    };
    gtk_container_forall(
        GTK_CONTAINER(container),
        [](GtkWidget* child, gpointer v) {
            (*static_cast<std::function<void(GtkWidget*)>*>(v))(child);
        },
        &visit);
    return search.found;
}

// A press and release of a mouse button at (x, y) of a GDK window, or the
// press alone.
void SendClick(GdkWindow* target, int x, int y, guint button, bool release = true) {
    if (target == nullptr) {
        return;
    }
    int originX = 0, originY = 0;
    gdk_window_get_origin(target, &originX, &originY);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        if (type == GDK_BUTTON_RELEASE && !release) {
            break;
        }
        GdkEvent* event = NewSentEvent(type, target);
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = x;
        event->button.y = y;
        event->button.x_root = originX + x;
        event->button.y_root = originY + y;
        event->button.button = button;
        event->button.state = type == GDK_BUTTON_RELEASE ? (GDK_BUTTON1_MASK << (button - 1)) : 0;
        gdk_event_set_device(event, Pointer());
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
}

// The menu attached to `widget` once it shows, within 3 s; null when none
// does.
GtkWidget* ShownMenuOf(GtkWidget* widget) {
    GtkWidget* menu = nullptr;
    PumpUntil(
        [&] {
            GList* menus = gtk_menu_get_for_attach_widget(widget);
            menu = menus ? GTK_WIDGET(menus->data) : nullptr;
            return menu && gtk_widget_get_mapped(menu);
        },
        3000);
    return menu && gtk_widget_get_mapped(menu) ? menu : nullptr;
}

}  // namespace

// --- The main loop. -----------------------------------------------------------------

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    Install();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A tick, so that the loop wakes up to look at the clock.
    const guint tick = g_timeout_add(5, &Tick, nullptr);
    bool held = pred();
    while (!held && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = pred();
    }
    g_source_remove(tick);
    return held;
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// --- Widgets. -------------------------------------------------------------------------

GtkWindow* WindowOf(const CWnd& dialog) {
    GtkWidget* w = gtk::WidgetOf(dialog);
    return w ? GTK_WINDOW(w) : nullptr;
}

GtkWidget* ControlOf(const CWnd& dialog, int id) {
    CWnd* control = dialog.GetDlgItem(id);
    return control ? gtk::WidgetOf(*control) : nullptr;
}

bool WaitMapped(const CWnd& dialog, int timeoutMs) {
    GtkWidget* window = gtk::WidgetOf(dialog);
    if (window == nullptr) {
        return false;
    }
    const bool mapped = PumpUntil(
        [&] {
            GdkWindow* w = gtk_widget_get_window(window);
            return gtk_widget_get_mapped(window) && w && gdk_window_is_viewable(w);
        },
        timeoutMs);
    // Let the first frame be drawn.
    Pump(100);
    return mapped;
}

std::string ShownText(const CWnd& dialog, int id) {
    GtkWidget* w = ControlOf(dialog, id);
    const char* text = nullptr;
    if (w == nullptr) {
        return {};
    }
    if (GTK_IS_COMBO_BOX(w)) {
        text = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(w))));
    } else if (GTK_IS_ENTRY(w)) {
        text = gtk_entry_get_text(GTK_ENTRY(w));
    } else if (GTK_IS_LABEL(w)) {
        text = gtk_label_get_text(GTK_LABEL(w));
    } else if (GTK_IS_FRAME(w)) {
        text = gtk_frame_get_label(GTK_FRAME(w));
    } else if (GTK_IS_BUTTON(w)) {
        text = gtk_button_get_label(GTK_BUTTON(w));
    }
    return text ? text : "";
}

std::vector<std::string> ComboItems(const CWnd& dialog, int id) {
    std::vector<std::string> items;
    GtkWidget* w = ControlOf(dialog, id);
    if (w == nullptr || !GTK_IS_COMBO_BOX(w)) {
        return items;
    }
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(w));
    const gint column = gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(w));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &iter, column, &text, -1);
        items.emplace_back(text ? text : "");
        g_free(text);
    }
    return items;
}

// --- Acting as the operator. ----------------------------------------------------------

bool Click(CWnd& dialog, int id) {
    Install();
    GtkWidget* w = ControlOf(dialog, id);
    if (w == nullptr || !GTK_IS_BUTTON(w) || !gtk_widget_is_sensitive(w) ||
        !gtk_widget_is_visible(w)) {
        return false;
    }
    gtk_button_clicked(GTK_BUTTON(w));
    return true;
}

bool ChooseComboItem(CWnd& dialog, int id, int index) {
    Install();
    GtkWidget* w = ControlOf(dialog, id);
    if (w == nullptr || !GTK_IS_COMBO_BOX(w) || !gtk_widget_is_sensitive(w)) {
        return false;
    }
    // A click on the box's arrow drops the list down. A box that has only
    // just become sensitive may not be drawn and mapped yet on a loaded
    // machine: wait for that, and click again if the list did not show.
    GtkWidget* arrow = FindInside(w, GTK_TYPE_TOGGLE_BUTTON);
    if (arrow == nullptr) {
        return false;
    }
    GtkWidget* menu = nullptr;
    for (int attempt = 0; attempt < 3 && menu == nullptr; ++attempt) {
        PumpUntil([&] { return gtk_widget_get_mapped(arrow) != FALSE; }, 3000);
        SendClick(gtk_button_get_event_window(GTK_BUTTON(arrow)),
                  gtk_widget_get_allocated_width(arrow) / 2,
                  gtk_widget_get_allocated_height(arrow) / 2, GDK_BUTTON_PRIMARY,
                  false);  // a release would land on the list
        menu = ShownMenuOf(w);
        if (menu == nullptr) {
            gtk_combo_box_popdown(GTK_COMBO_BOX(w));
            Pump(50);
        }
    }
    if (menu == nullptr) {
        return false;
    }
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget* item = static_cast<GtkWidget*>(g_list_nth_data(items, static_cast<guint>(index)));
    g_list_free(items);
    if (item == nullptr) {
        gtk_combo_box_popdown(GTK_COMBO_BOX(w));
        return false;
    }
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), item, TRUE);
    Pump(20);
    return true;
}

bool TypeComboText(CWnd& dialog, int id, const std::string& text) {
    GtkWidget* w = ControlOf(dialog, id);
    if (w == nullptr || !GTK_IS_COMBO_BOX(w) || !gtk_widget_is_sensitive(w)) {
        return false;
    }
    GtkEntry* entry = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(w)));
    gtk_widget_grab_focus(GTK_WIDGET(entry));
    // Typing replaces the selected text one keystroke at a time.
    gtk_editable_delete_text(GTK_EDITABLE(entry), 0, -1);
    gint position = 0;
    for (const char ch : text) {
        const char key[2] = {ch, '\0'};  // the signal copies it as a string
        gtk_editable_insert_text(GTK_EDITABLE(entry), key, 1, &position);
    }
    return true;
}

void PressKey(GtkWidget* toplevel, guint keyval, GdkModifierType modifiers) {
    Install();
    GdkWindow* target = gtk_widget_get_window(toplevel);
    if (target == nullptr) {
        return;
    }
    g_object_ref(target);
    // The X server gives a key only to the window with the keyboard focus,
    // and a GTK window without it takes Tab as a return to its focus widget
    // rather than a move on. Which window has the focus on a virtual display
    // without a window manager is up to the pointer and to whatever else
    // runs on that display (the tests share one, and a window of another
    // test may lie over ours), so the window is given the focus first, as
    // the server would, in the same step as the key. A popup (a menu) gets
    // its keys through its grab instead.
    if (GTK_IS_WINDOW(toplevel) &&
        gtk_window_get_window_type(GTK_WINDOW(toplevel)) == GTK_WINDOW_TOPLEVEL &&
        !gtk_window_has_toplevel_focus(GTK_WINDOW(toplevel))) {
        SendFocusIn(target);
    }
    SendKey(target, GDK_KEY_PRESS, keyval, modifiers);
    SendKey(target, GDK_KEY_RELEASE, keyval, modifiers);
    g_object_unref(target);
}

void PressKey(CWnd& dialog, guint keyval, GdkModifierType modifiers) {
    if (GtkWidget* w = gtk::WidgetOf(dialog)) {
        PressKey(w, keyval, modifiers);
    }
}

GtkMenu* RightClick(CWnd& dialog, int x, int y) {
    Install();
    GtkWidget* window = gtk::WidgetOf(dialog);
    GdkWindow* target = window ? gtk_widget_get_window(window) : nullptr;
    if (target == nullptr) {
        return nullptr;
    }
    SendClick(target, x, y, GDK_BUTTON_SECONDARY);
    GtkWidget* menu = ShownMenuOf(window);
    return menu ? GTK_MENU(menu) : nullptr;
}

std::vector<std::string> MenuLabels(GtkMenu* menu) {
    std::vector<std::string> labels;
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* l = items; l != nullptr; l = l->next) {
        GtkWidget* item = GTK_WIDGET(l->data);
        GtkWidget* child = GTK_IS_BIN(item) ? gtk_bin_get_child(GTK_BIN(item)) : nullptr;
        labels.emplace_back(child && GTK_IS_LABEL(child) ? gtk_label_get_label(GTK_LABEL(child))
                                                         : "");
    }
    g_list_free(items);
    return labels;
}

void DismissMenu(GtkMenu* menu) {
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
    Pump(20);
}

// --- Modal windows. -------------------------------------------------------------------

void OnNextModal(ModalHandler handler) {
    Install();
    TheState().handlers.push_back(std::move(handler));
}

std::size_t PendingModalHandlers() {
    return TheState().handlers.size();
}

std::vector<std::string> Mishaps() {
    std::vector<std::string> out;
    out.swap(TheState().mishaps);
    return out;
}

namespace {

bool SelectInChooser(GtkFileChooser* fc, const std::string& path) {
    gchar* dir = g_path_get_dirname(path.c_str());
    gtk_file_chooser_set_current_folder(fc, dir);
    g_free(dir);
    // The chooser loads the folder in the background; the file can be
    // selected once it is listed.
    return PumpUntil(
        [&] {
            gchar* chosen = gtk_file_chooser_get_filename(fc);
            const bool same = chosen && path == chosen;
            g_free(chosen);
            if (!same) {
                gtk_file_chooser_select_filename(fc, path.c_str());
            }
            return same;
        },
        5000);
}

}  // namespace

bool AnswerFileChooser(GtkWindow* chooser, const std::string& path) {
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    if (!SelectInChooser(fc, path)) {
        return false;
    }
    GtkWidget* open = gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    if (open == nullptr) {
        return false;
    }
    bool responded = false;
    const gulong id = g_signal_connect(chooser, "response", G_CALLBACK(&OnResponse), &responded);
    gtk_button_clicked(GTK_BUTTON(open));
    g_signal_handler_disconnect(chooser, id);
    return responded;
}

bool ForceFileChooserAnswer(GtkWindow* chooser, const std::string& path) {
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    // An open-file chooser enters a folder rather than return it; one that
    // chooses folders returns it.
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
        gtk_file_chooser_set_action(fc, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    }
    if (!SelectInChooser(fc, path)) {
        return false;
    }
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    return true;
}

void RespondToDialog(GtkWindow* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
    if (button) {
        gtk_button_clicked(GTK_BUTTON(button));
    } else {
        gtk_dialog_response(GTK_DIALOG(dialog), response);
    }
}

std::string MessageBoxText(GtkWindow* box) {
    gchar* text = nullptr;
    g_object_get(box, "text", &text, nullptr);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

// --- Pictures. ------------------------------------------------------------------------

bool SaveScreenshot(GtkWindow* window, const std::string& path) {
    GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(window));
    if (w == nullptr || !gdk_window_is_viewable(w)) {
        return false;
    }
    // Taken from the screen, so that a window manager's frame is in it.
    GdkRectangle frame;
    gdk_window_get_frame_extents(w, &frame);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), frame.x, frame.y,
                                                 frame.width, frame.height);
    if (shot == nullptr) {
        return false;
    }
    const bool saved = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(shot);
    return saved;
}

}  // namespace gtkdrv
