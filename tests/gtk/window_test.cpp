// The main window as GTK shows it: start states and texts read back from
// the widgets, the layout, the context menu and the About box, the keys
// that end a dialog, and the machine type box.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <pango/pangofc-font.h>

#include "framework/dialog_template.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/window_data.h"
#include "tests/gtk/gtk_support.h"
#include "ui/resource.h"

namespace {

constexpr char kCaption[] = "Lorvane 300 Download tool Ver1.0[2009.06.24]";

GtkAllocation AllocationOf(GtkWidget* w) {
    GtkAllocation a;
    gtk_widget_get_allocation(w, &a);
    return a;
}

bool Inside(const GtkAllocation& inner, const GtkAllocation& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

bool Overlap(const GtkAllocation& a, const GtkAllocation& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

// The text widget inside a control, whose text must fit.
GtkWidget* TextWidget(GtkWidget* control) {
    if (GTK_IS_FRAME(control)) {
        return gtk_frame_get_label_widget(GTK_FRAME(control));
    }
    if (GTK_IS_BUTTON(control)) {
        return gtk_bin_get_child(GTK_BIN(control));
    }
    return GTK_IS_LABEL(control) ? control : nullptr;
}

}  // namespace

TEST_F(GtkDialogTest, StartsAsTheOperatorExpects) {
    EXPECT_STREQ(gtk_window_get_title(Window()), kCaption);
    const std::vector<std::string> names = {kMachineTypes[0].name, kMachineTypes[1].name,
                                            kMachineTypes[2].name};
    EXPECT_EQ(gtkdrv::ComboItems(*dlg, IDC_MACHINE_TYPE), names);
    EXPECT_EQ(dlg->GetDlgItem(IDC_MACHINE_TYPE)->SendMessage(CB_GETCURSEL), 0);
    for (const ControlAtStart& c : kControlsAtStart) {
        EXPECT_EQ(Shown(c.id), c.text) << "control " << c.id;
        EXPECT_EQ(Sensitive(c.id), c.enabled) << "control " << c.id;
    }
    EXPECT_FALSE(gtk_widget_get_visible(gtkdrv::ControlOf(*dlg, IDC_PROGRESS)));

    // The focus starts on the first enabled tab stop.
    EXPECT_EQ(gtk_window_get_focus(Window()), gtkdrv::ControlOf(*dlg, IDC_LOAD_FILE));
    // A fixed size, its own taskbar entry, and the icon at both sizes.
    EXPECT_FALSE(gtk_window_get_resizable(Window()));
    EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(Window()));
    GList* icons = gtk_window_get_icon_list(Window());
    std::vector<int> sizes;
    for (GList* l = icons; l != nullptr; l = l->next) {
        sizes.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(l->data)));
    }
    g_list_free(icons);
    EXPECT_EQ(sizes, (std::vector<int>{32, 16}));

    // Neither the disabled box nor the disabled button can be used.
    EXPECT_FALSE(gtkdrv::ChooseComboItem(*dlg, IDC_MACHINE_TYPE, 1));
    EXPECT_FALSE(gtkdrv::Click(*dlg, IDC_PROGRAM));
    EXPECT_EQ(dlg->GetMachineType(), 0);
}

// Texts fit their controls, controls do not cover each other, and each sits
// inside the window; the dialog font has the CJK glyphs its name promises.
TEST_F(GtkDialogTest, LayoutKeepsEveryTextVisible) {
    const DialogTemplate* t = AfxFindDialogTemplate(IDD_MAIN);
    ASSERT_NE(t, nullptr);
    const gtk::BaseUnits units = gtk::DialogBaseUnits(t->fontFace, t->fontPointSize);
    CRect client;
    dlg->GetClientRect(&client);
    EXPECT_NEAR(client.Width(), t->cx * units.cx / 4, 1);
    EXPECT_NEAR(client.Height(), t->cy * units.cy / 8, 1);

    const GtkAllocation window{0, 0, client.Width(), client.Height()};
    std::vector<std::pair<int, GtkAllocation>> placed;
    // Every control, by its place in the template: the statics share an id.
    GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(Window()));
    GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
    ASSERT_EQ(g_list_length(children), t->controls.size());
    std::size_t index = 0;
    for (GList* l = children; l != nullptr; l = l->next, ++index) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (!gtk_widget_get_visible(w)) {
            continue;
        }
        const GtkAllocation a = AllocationOf(w);
        const std::string what =
            std::string("control ") + t->controls[index].text + " #" + std::to_string(index);
        EXPECT_TRUE(Inside(a, window)) << what;
        if (GtkWidget* text = TextWidget(w)) {
            int minimum = 0, natural = 0;
            gtk_widget_get_preferred_width(text, &minimum, &natural);
            EXPECT_LE(natural, AllocationOf(text).width) << what << " clips its text";
            EXPECT_GE(AllocationOf(text).height, units.cy) << what << " clips its text";
        }
        if (t->controls[index].kind == ControlKind::GroupBox) {
            continue;
        }
        for (const auto& [other, b] : placed) {
            EXPECT_FALSE(Overlap(a, b)) << what << " covers #" << other;
        }
        placed.emplace_back(static_cast<int>(index), a);
    }
    g_list_free(children);

    // The face the dialogs are drawn in has the glyphs of its own name.
    GtkWidget* status = gtkdrv::ControlOf(*dlg, IDC_STATUS);
    PangoContext* context = gtk_widget_get_pango_context(status);
    PangoFont* font = pango_context_load_font(context, pango_context_get_font_description(context));
    ASSERT_NE(font, nullptr);
    EXPECT_TRUE(pango_font_has_char(font, g_utf8_get_char(t->fontFace)))
        << pango_font_description_to_string(pango_font_describe(font));
    g_object_unref(font);
}

// The items appended to the system menu make up the window's context menu,
// with "&A" as GTK's mnemonic; choosing the About item opens the About box
// over the disabled main window.
TEST_F(GtkDialogTest, ContextMenuOpensTheAboutBox) {
    GtkMenu* menu = gtkdrv::RightClick(*dlg, 300, 200);
    ASSERT_NE(menu, nullptr) << "no menu on a right-click";
    EXPECT_EQ(gtkdrv::MenuLabels(menu),
              (std::vector<std::string>{"", "About Quenta 5X Download tool Ver1.0(_A)..."}));

    struct Seen {
        std::string caption, version, notice, ok;
        bool ownerEnabled = true, okIsDefault = false, hasIcon = false;
    } seen;
    gtkdrv::OnNextModal([&](CWnd* about, GtkWindow* window) {
        ASSERT_NE(about, nullptr);
        ASSERT_TRUE(gtkdrv::WaitMapped(*about));
        seen.caption = gtk_window_get_title(window);
        seen.ownerEnabled = gtk_widget_get_sensitive(GTK_WIDGET(Window()));
        GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window));
        GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
        for (GList* l = children; l != nullptr; l = l->next) {
            GtkWidget* w = GTK_WIDGET(l->data);
            if (GTK_IS_IMAGE(w)) {
                seen.hasIcon = gtk_image_get_pixbuf(GTK_IMAGE(w)) != nullptr;
            } else if (GTK_IS_LABEL(w)) {
                (seen.version.empty() ? seen.version : seen.notice) =
                    gtk_label_get_text(GTK_LABEL(w));
            }
        }
        g_list_free(children);
        seen.ok = gtkdrv::ShownText(*about, IDOK);
        seen.okIsDefault = gtk_widget_has_default(gtkdrv::ControlOf(*about, IDOK));
        EXPECT_TRUE(gtkdrv::Click(*about, IDOK));
    });
    // Its mnemonic chooses the item, as a key press in the open menu.
    gtkdrv::PressKey(gtk_widget_get_toplevel(GTK_WIDGET(menu)), GDK_KEY_a);
    ASSERT_TRUE(gtkdrv::PumpUntil([] { return gtkdrv::PendingModalHandlers() == 0; }, 5000))
        << "the About box did not open";
    gtkdrv::Pump(50);

    EXPECT_EQ(seen.caption, "About Lorvane 300  Upload Tools");
    EXPECT_EQ(seen.version, "Lorvane 300 Download tool Ver1.0");
    EXPECT_NE(seen.notice.find("2009"), std::string::npos) << seen.notice;
    EXPECT_EQ(seen.ok, "OK");
    EXPECT_TRUE(seen.okIsDefault);
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_FALSE(seen.ownerEnabled) << "the main window stayed usable under the About box";
    EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(Window())));
    EXPECT_TRUE(dlg->IsWindowAlive());
}

// When the file chooser or the About box closes, the keyboard focus is
// back on the control that had it, so Tab goes on from there to Program.
TEST_F(GtkDialogTest, FocusReturnsWhenAModalWindowCloses) {
    GtkWidget* loadFile = gtkdrv::ControlOf(*dlg, IDC_LOAD_FILE);
    GtkWidget* program = gtkdrv::ControlOf(*dlg, IDC_PROGRAM);
    ASSERT_EQ(gtk_window_get_focus(Window()), loadFile);

    Load(WriteFile(Pattern(300), "image.EUP"));
    gtkdrv::Pump(50);
    EXPECT_EQ(gtk_window_get_focus(Window()), loadFile) << "after the file chooser";
    ASSERT_TRUE(Sensitive(IDC_PROGRAM));
    gtkdrv::PressKey(*dlg, GDK_KEY_Tab);
    EXPECT_EQ(gtk_window_get_focus(Window()), program);

    gtkdrv::PressKey(*dlg, GDK_KEY_Tab, GDK_SHIFT_MASK);
    ASSERT_EQ(gtk_window_get_focus(Window()), loadFile);
    gtkdrv::OnNextModal([](CWnd* about, GtkWindow*) {
        ASSERT_NE(about, nullptr);
        EXPECT_TRUE(gtkdrv::Click(*about, IDOK));
    });
    dlg->SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    gtkdrv::Pump(50);
    EXPECT_EQ(gtkdrv::PendingModalHandlers(), 0u) << "the About box did not open";
    EXPECT_EQ(gtk_window_get_focus(Window()), loadFile) << "after the About box";
    gtkdrv::PressKey(*dlg, GDK_KEY_Tab);
    EXPECT_EQ(gtk_window_get_focus(Window()), program);
}

TEST_F(GtkDialogTest, AltSpaceOpensTheContextMenu) {
    gtkdrv::PressKey(*dlg, GDK_KEY_space, GDK_MOD1_MASK);
    GtkMenu* menu = nullptr;
    ASSERT_TRUE(gtkdrv::PumpUntil(
        [&] {
            GList* menus = gtk_menu_get_for_attach_widget(GTK_WIDGET(Window()));
            menu = menus ? GTK_MENU(menus->data) : nullptr;
            return menu && gtk_widget_get_mapped(GTK_WIDGET(menu));
        },
        3000));
    EXPECT_EQ(gtkdrv::MenuLabels(menu).size(), 2u);
    gtkdrv::DismissMenu(menu);
    EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(menu)));
}

// Esc and the caption's close box end the dialog as Cancel; Enter presses
// the focused button, which at start is Load File.
TEST_F(GtkDialogTest, KeysAndCloseBox) {
    gtkdrv::OnNextModal([](CWnd*, GtkWindow* chooser) {
        EXPECT_TRUE(GTK_IS_FILE_CHOOSER(chooser));
        gtkdrv::RespondToDialog(chooser, GTK_RESPONSE_CANCEL);
    });
    gtkdrv::PressKey(*dlg, GDK_KEY_Return);
    ASSERT_TRUE(WaitStatus(kStatusOpenFile, 3000)) << "Enter did not press Load File";
    EXPECT_FALSE(EndedWith(*dlg).has_value());

    gtkdrv::PressKey(*dlg, GDK_KEY_Escape);
    ASSERT_TRUE(EndedWith(*dlg).has_value());
    EXPECT_EQ(EndedWith(*dlg), IDCANCEL);

    // Again with a fresh window, by the close box.
    dlg->DestroyWindow();
    ASSERT_TRUE(dlg->Create());
    ASSERT_TRUE(gtkdrv::WaitMapped(*dlg));
    gtk_window_close(Window());
    ASSERT_TRUE(gtkdrv::PumpUntil([&] { return EndedWith(*dlg).has_value(); }, 3000));
    EXPECT_EQ(EndedWith(*dlg), IDCANCEL);
}

// The box opens after a scan that found nothing. A choice from its list
// selects the machine type; typing in its edit field selects nothing.
TEST_F(GtkDialogTest, MachineTypeBoxTakesChoicesNotTyping) {
    ASSERT_NO_FATAL_FAILURE(SelectMachineType(2));
    EXPECT_EQ(Shown(IDC_MACHINE_TYPE), "ZT418");
    EXPECT_EQ(dlg->GetDlgItem(IDC_MACHINE_TYPE)->SendMessage(CB_GETCURSEL), 2);

    ASSERT_TRUE(gtkdrv::TypeComboText(*dlg, IDC_MACHINE_TYPE, "Quenta 5X"));
    gtkdrv::Pump(20);
    EXPECT_EQ(Shown(IDC_MACHINE_TYPE), "Quenta 5X");
    EXPECT_EQ(dlg->GetDlgItem(IDC_MACHINE_TYPE)->SendMessage(CB_GETCURSEL), 2);
    EXPECT_EQ(dlg->GetMachineType(), 2);

    ASSERT_TRUE(gtkdrv::ChooseComboItem(*dlg, IDC_MACHINE_TYPE, 1));
    EXPECT_EQ(dlg->GetMachineType(), 1);
    EXPECT_EQ(Shown(IDC_MACHINE_TYPE), "Quenta 5X");
}

// The bar shows (pos - low) / (high - low) of its width; an empty range
// shows an empty bar.
TEST_F(GtkDialogTest, ProgressBarShowsItsPositionInItsRange) {
    CWnd* bar = dlg->GetDlgItem(IDC_PROGRESS);
    GtkProgressBar* widget = GTK_PROGRESS_BAR(gtkdrv::ControlOf(*dlg, IDC_PROGRESS));
    struct Case {
        UINT low, high;
        WPARAM pos;
        double fraction;
        LRESULT posRead;
    };
    const Case cases[] = {
        {0, 100, 50, 0.5, 50}, {0, 400, 100, 0.25, 100},      {10, 20, 15, 0.5, 15},
        {10, 20, 99, 1.0, 20}, {10, 20, 3, 0.0, 10},          {0, 0, 0, 0.0, 0},
        {0, 0, 7, 0.0, 0},     {0, 65535, 65535, 1.0, 65535},
    };
    for (const Case& c : cases) {
        bar->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(c.low, c.high));
        bar->SendMessage(PBM_SETPOS, c.pos);
        EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(widget), c.fraction)
            << c.low << ".." << c.high << " at " << c.pos;
        EXPECT_EQ(bar->SendMessage(PBM_GETPOS), c.posRead);
        EXPECT_EQ(bar->SendMessage(PBM_GETRANGE, TRUE), static_cast<LRESULT>(c.low));
        EXPECT_EQ(bar->SendMessage(PBM_GETRANGE, FALSE), static_cast<LRESULT>(c.high));
    }
    EXPECT_FALSE(bar->IsWindowVisible());
}

// Exit destroys the main window, which ends its modal run.
TEST_F(GtkDialogTest, ExitEndsTheModalRun) {
    dlg->DestroyWindow();
    bool sawWindow = false;
    gtkdrv::OnNextModal([&](CWnd* main, GtkWindow*) {
        sawWindow = main == dlg.get();
        EXPECT_TRUE(gtkdrv::Click(*dlg, IDC_EXIT));
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_TRUE(sawWindow);
    EXPECT_FALSE(dlg->IsWindowAlive());
}
