// The main window: start states, system menu and About box, painting while
// minimized, the machine type box, Exit.
#include "framework/window_data.h"
#include "tests/test_support.h"

TEST_F(DialogTest, StartsAsTheOperatorExpects) {
    EXPECT_EQ(dlg->GetWindowText(), "Lorvane 300 Download tool Ver1.0[2009.06.24]");
    for (const ControlAtStart& c : kControlsAtStart) {
        EXPECT_EQ(Text(c.id), c.text) << "control " << c.id;
        EXPECT_EQ(Enabled(c.id), c.enabled) << "control " << c.id;
    }
    ASSERT_EQ(Control(IDC_MACHINE_TYPE, CB_GETCOUNT), 3);
    for (MachineType t = 0; t < 3; ++t) {
        std::string name;
        dlg->GetDlgItem(IDC_MACHINE_TYPE)
            ->SendMessage(CB_GETLBTEXT, t, reinterpret_cast<LPARAM>(&name));
        EXPECT_EQ(name, kMachineTypes[t].name);
    }
    EXPECT_EQ(Control(IDC_MACHINE_TYPE, CB_GETCURSEL), 0);
    EXPECT_EQ(dlg->GetMachineType(), 0);
    EXPECT_FALSE(dlg->GetDlgItem(IDC_PROGRESS)->IsWindowVisible());
    EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETPOS), 0);
    EXPECT_FALSE(headless::Click(*dlg, IDC_PROGRAM));
    EXPECT_FALSE(headless::SelectComboItem(*dlg, IDC_MACHINE_TYPE, 1));
    EXPECT_EQ(dlg->GetMachineType(), 0);
}

TEST_F(DialogTest, SystemMenuOpensTheAboutBox) {
    const CMenu* menu = dlg->GetSystemMenu(FALSE);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->m_items.size(), 2u);
    EXPECT_EQ(menu->m_items[0].flags, MF_SEPARATOR);
    EXPECT_EQ(menu->m_items[1].id, IDM_ABOUTBOX);
    EXPECT_EQ(menu->m_items[1].text, "About Quenta 5X Download tool Ver1.0(&A)...");

    // While the About box is up the main window is disabled, and a scan
    // started before goes on underneath.
    Load(Bytes(10));
    Press(IDC_PROGRAM);
    std::string caption, statusMeanwhile;
    bool ownerEnabled = true;
    headless::ScriptModal([&](CDialog& about) {
        caption = about.GetWindowText();
        ownerEnabled = dlg->IsWindowEnabled() != FALSE;
        headless::Advance(1000);
        statusMeanwhile = Status();
        return IDOK;
    });
    headless::SystemCommand(*dlg, IDM_ABOUTBOX | 0x3);  // low four bits are the system's
    ASSERT_EQ(headless::ModalTemplatesShown().back(), static_cast<UINT>(IDD_ABOUTBOX));
    EXPECT_EQ(caption, "About Lorvane 300  Upload Tools");
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(dlg->IsWindowEnabled());
    EXPECT_EQ(statusMeanwhile, "COM1 open fail! ");
}

TEST_F(DialogTest, OtherSystemCommandsBehaveAsUsual) {
    const auto shown = headless::ModalTemplatesShown().size();
    EXPECT_FALSE(EndedWith(*dlg).has_value());
    headless::SystemCommand(*dlg, SC_CLOSE);  // the caption's close box: Cancel
    EXPECT_EQ(headless::ModalTemplatesShown().size(), shown);
    EXPECT_EQ(EndedWith(*dlg), IDCANCEL);
}

TEST_F(DialogTest, MinimizedWindowPaintsItsIconCentred) {
    dlg->SendMessage(WM_PAINT);
    EXPECT_FALSE(headless::LastIconDrawn().has_value());

    headless::SetIconic(*dlg, true);
    dlg->SendMessage(WM_PAINT);
    auto drawn = headless::LastIconDrawn();
    ASSERT_TRUE(drawn.has_value());
    CRect rect;
    dlg->GetClientRect(&rect);
    EXPECT_EQ(drawn->x, (rect.Width() - 32 + 1) / 2);
    EXPECT_EQ(drawn->y, (rect.Height() - 32 + 1) / 2);
    EXPECT_EQ(drawn->icon, app.LoadIcon(IDR_MAINFRAME));
    EXPECT_TRUE(headless::IconBackgroundErased());
    EXPECT_EQ(dlg->SendMessage(WM_QUERYDRAGICON),
              reinterpret_cast<LRESULT>(app.LoadIcon(IDR_MAINFRAME)));
}

TEST_F(DialogTest, MachineTypeFollowsTheSelectionNotTheEditField) {
    SelectMachineType(2);
    EXPECT_EQ(dlg->GetMachineType(), 2);
    ASSERT_TRUE(headless::TypeComboText(*dlg, IDC_MACHINE_TYPE, "Quenta 5X"));
    EXPECT_EQ(dlg->GetMachineType(), 2);
    ASSERT_TRUE(headless::SelectComboItem(*dlg, IDC_MACHINE_TYPE, 1));
    EXPECT_EQ(dlg->GetMachineType(), 1);
}

TEST_F(DialogTest, ExitEndsTheProgramEvenMidDownload) {
    SimulatedDevice machine(0);
    machine.AttachTo("COM1");
    Load(Pattern(60000));
    Press(IDC_PROGRAM);
    headless::Advance(1100);
    ASSERT_GT(dlg->GetSentBytes(), 0u);
    ASSERT_EQ(memory::LiveWorkerCount(), 1);

    Press(IDC_EXIT);
    EXPECT_FALSE(dlg->IsWindowAlive());
    // The machine's next reply finds no window to talk to.
    headless::Advance(100);
    dlg.reset();  // the dialog's end closes the port and ends the worker
    EXPECT_EQ(memory::LiveWorkerCount(), 0);
    EXPECT_EQ(memory::OpenPortCount(), 0);
}
