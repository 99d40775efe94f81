// GTK controls: the widget each control template asks for, the signals
// that become the dialog's notifications, and the control messages
// (CB_*, PBM_*) carried out on the widget.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <string>

#include "framework/dialog_template.h"
#include "framework/gtk/window_impl.h"

namespace gtk {
namespace {

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

// A large static: the dialog font (the label's own, from its window's
// style) three times as big, and bold. Attributes of the label, they stay
// through gtk_label_set_text.
void SetLargeFont(GtkLabel* label) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_scale_new(3.0));
    pango_attr_list_insert(attrs, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    gtk_label_set_attributes(label, attrs);
    pango_attr_list_unref(attrs);
}

}  // namespace

void SendCommand(CWnd* dialog, int id, UINT code) {
    dialog->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), code), 0);
}

GtkWidget* MakeControl(const ControlTemplate& ct, CWnd* control, const BaseUnits& u) {
    WindowImpl& c = *control->Impl();
    GtkWidget* widget = nullptr;
    int height = u.Y(ct.cy);
    switch (ct.kind) {
        case ControlKind::GroupBox:
            widget = gtk_frame_new(ct.text);
            break;
        case ControlKind::Static:
            widget = gtk_label_new(ct.text);
            gtk_label_set_xalign(GTK_LABEL(widget), ct.center ? 0.5f : 0.0f);
            gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
            if (ct.center) {
                gtk_label_set_justify(GTK_LABEL(widget), GTK_JUSTIFY_CENTER);
            }
            if (ct.large) {
                SetLargeFont(GTK_LABEL(widget));
            }
            if (ct.ellipsis) {
                // As a Windows static cut at its box: no wider than asked
                // for, whatever the text.
                gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
                gtk_label_set_max_width_chars(GTK_LABEL(widget), 1);
            }
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
            if (ct.password) {
                // Marks for what is typed, and no input method that would
                // show it or keep it.
                gtk_entry_set_visibility(GTK_ENTRY(widget), FALSE);
                gtk_entry_set_input_purpose(GTK_ENTRY(widget), GTK_INPUT_PURPOSE_PASSWORD);
            }
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

LRESULT ControlMessage(CWnd& control, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl& w = *control.Impl();
    const bool live = !w.destroyed && w.widget != nullptr;
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
            } else if (w.widget == nullptr) {
                w.items.emplace_back(text ? text : "");
            }
            return control.SendMessage(CB_GETCOUNT) - 1;
        }
        case CB_GETCOUNT:
            if (w.kind == ControlKind::ComboBox && w.widget == nullptr) {
                return static_cast<LRESULT>(w.items.size());
            }
            if (w.kind != ControlKind::ComboBox || !live) {
                return 0;
            }
            return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(w.widget)),
                                                  nullptr);
        case CB_SETCURSEL: {
            if (w.kind != ControlKind::ComboBox) {
                return CB_ERR;
            }
            const auto count = static_cast<WPARAM>(control.SendMessage(CB_GETCOUNT));
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
            if (w.kind == ControlKind::ComboBox && w.widget == nullptr) {
                if (wParam >= w.items.size()) {
                    return CB_ERR;
                }
                std::string* out = reinterpret_cast<std::string*>(lParam);
                *out = w.items[wParam];
                return static_cast<LRESULT>(out->size());
            }
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

}  // namespace gtk
