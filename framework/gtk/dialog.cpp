// GTK dialogs: windows built from their templates, their signals (the
// close box, the keyboard, painting while minimized), and modal loops with
// their owners.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <algorithm>
#include <string>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"
#include "framework/window_thread.h"

namespace gtk {
namespace {

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

}  // namespace

void SetModalObserver(std::function<void(CWnd*, GtkWindow*)> observer) {
    ModalObserver() = std::move(observer);
}

void NoteModalShown(CWnd* dialog, GtkWindow* window) {
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &TellModalShown,
                    new ModalShown{dialog, GTK_WINDOW(g_object_ref(window))}, &DeleteModalShown);
}

CWnd* DefaultOwner(CWnd* parent, const CWnd* self) {
    if (parent) {
        return parent;
    }
    CWinApp* app = AfxGetApp();
    CWnd* main = app ? app->m_pMainWnd : nullptr;
    return main && main != self && main->IsWindowAlive() ? main : nullptr;
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

namespace {

// The dialogs whose modal loops run, outermost first.
std::vector<CDialog*>& ModalDialogs() {
    static std::vector<CDialog*> running;
    return running;
}

}  // namespace

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

}  // namespace gtk

// --- CDialog ------------------------------------------------------------------------------

CDialog::~CDialog() = default;

BOOL CDialog::Create(BOOL bShow) {
    const DialogTemplate* t = AfxFindDialogTemplate(m_nIDTemplate);
    if (t == nullptr || m_pImpl->alive) {
        return FALSE;
    }
    if (AfxOnWindowThread()) {
        // Never shown: controls without widgets (window_impl.h), timers and
        // hand-overs on the thread's own context.
        m_pImpl = std::make_unique<WindowImpl>();
        WindowImpl& w = *m_pImpl;
        w.tmpl = t;
        w.text = t->caption;
        for (const ControlTemplate& ct : t->controls) {
            w.controls.push_back(MakeDrawnControl(this, ct));
        }
        w.alive = true;
        gtk::WindowCreated(this);
        OnInitDialog();
        return TRUE;
    }
    const std::string styleClass = gtk::StyleClassFor(t->fontFace, t->fontPointSize);
    const gtk::BaseUnits u = gtk::DialogBaseUnits(t->fontFace, t->fontPointSize);

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
    CWnd* parent = gtk::DefaultOwner(m_pParentWnd, this);
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
        GtkWidget* widget = gtk::MakeControl(ct, control.get(), u);
        gtk_fixed_put(GTK_FIXED(w.fixed), widget, u.X(ct.x), u.Y(ct.y));
        if (!ct.hidden) {
            gtk_widget_show_all(widget);
        }
        w.controls.push_back(std::move(control));
    }
    gtk_widget_show(w.fixed);

    g_signal_connect(window, "delete-event", G_CALLBACK(&gtk::OnDeleteEvent), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(&gtk::OnKeyPress), this);
    g_signal_connect(window, "draw", G_CALLBACK(&gtk::OnDraw), this);
    g_signal_connect(window, "realize", G_CALLBACK(&gtk::OnRealize), nullptr);
    // Right-click anywhere, before any control sees it, opens the menu.
    w.rightClick = gtk_gesture_multi_press_new(window);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(w.rightClick), GDK_BUTTON_SECONDARY);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(w.rightClick),
                                               GTK_PHASE_CAPTURE);
    g_signal_connect(w.rightClick, "pressed", G_CALLBACK(&gtk::OnRightClick), this);

    w.alive = true;
    gtk::WindowCreated(this);

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
    // A window created hidden stays so: its toplevel is never shown, but
    // its timers and hand-overs run on the main context all the same.
    if (bShow) {
        gtk_widget_show(window);
    }
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
        const gtk::ModalOwner owner(gtk::DefaultOwner(m_pParentWnd, this));
        if (m_pImpl->alive) {
            gtk::NoteModalShown(this, GTK_WINDOW(m_pImpl->widget));
        }
        gtk::ModalDialogs().push_back(this);
        while (m_pImpl->alive && !m_pImpl->ended) {
            g_main_context_iteration(nullptr, TRUE);
        }
        std::erase(gtk::ModalDialogs(), this);
        return m_pImpl->result;
    }();
    DestroyWindow();
    return result;
}

void CDialog::EndDialog(int nResult) {
    m_pImpl->ended = true;
    m_pImpl->result = nResult;
    if (m_pImpl->alive && m_pImpl->widget != nullptr) {
        gtk_widget_hide(m_pImpl->widget);
    }
    g_main_context_wakeup(nullptr);
}
