// The system menu of a GTK dialog: a context menu with the items appended
// to it, opened by a right click, Alt+Space or the Menu key.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <string>

#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"

namespace gtk {
namespace {

constexpr char kCommandKey[] = "dt-command";

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

}  // namespace

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

}  // namespace gtk

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
