// GTK windows: what a dialog or control shows and how it goes, read from
// and written to its widget, and icons and painting while minimized.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <algorithm>
#include <string>

#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"
#include "framework/window_thread.h"

namespace gtk {

GtkWidget* WidgetOf(const CWnd& wnd) {
    return wnd.Impl() ? wnd.Impl()->widget : nullptr;
}

}  // namespace gtk

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
        gtk::ForgetWindow(this);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_pImpl->isControl ? gtk::ControlMessage(*this, message, wParam, lParam)
                              : WindowProc(message, wParam, lParam);
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

void CWnd::SetFocus() {
    WindowImpl& w = *m_pImpl;
    if (w.widget && !w.destroyed && (w.isControl || w.alive)) {
        gtk_widget_grab_focus(w.widget);
    }
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
    gtk::ArmTimer(this, nIDEvent, nElapse);
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return gtk::DisarmTimer(this, nIDEvent) ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const {
    const WindowImpl& w = *m_pImpl;
    if (w.isControl || !w.alive || w.widget == nullptr || !gtk_widget_get_realized(w.widget)) {
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
    gtk::ForgetWindow(this);
    for (auto& control : w.controls) {
        WindowImpl& c = *control->Impl();
        // Keep what each control showed, for callers that still ask.
        c.text = control->GetWindowText();
        c.enabled = control->IsWindowEnabled() != FALSE;
        c.destroyed = true;
    }
    if (w.widget != nullptr) {
        const char* title = gtk_window_get_title(GTK_WINDOW(w.widget));
        w.text = title ? title : "";
        w.popup = nullptr;  // attached to the window, destroyed with it
        gtk_widget_destroy(w.widget);
        g_main_context_wakeup(nullptr);  // a modal loop waiting for this ends now
    }
    OnPostDestroy();
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl& w = *m_pImpl;
    const LRESULT result = DrawnDefWindowProc(*this, message, wParam, lParam);
    switch (message) {
        case WM_SETICON:
            if (w.alive && w.widget != nullptr) {
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
            if (w.paint.cr && w.alive && w.widget != nullptr) {
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

// --- Odds and ends ------------------------------------------------------------------------

int AfxGetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    // Icons are drawn for the main thread's widgets; a dialog on a window
    // thread shows none.
    return AfxOnWindowThread() ? nullptr : gtk::IconForResource(nIDResource);
}

// GLib's monotonic clock, which its timeouts (our timers) count on.
std::uint64_t AfxTickCount() {
    return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000);
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
