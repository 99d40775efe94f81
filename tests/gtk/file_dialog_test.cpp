// Load File through the GTK file chooser: the filter of the machine type,
// loading, cancelling, and files that cannot be read.
#include <unistd.h>

#include "framework/gtk/gtk_backend.h"
#include "tests/gtk/gtk_support.h"

namespace {

bool FilterTakes(GtkFileFilter* filter, const char* name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

struct ChooserSeen {
    std::string filterName, folder;
    std::vector<std::string> taken, refused;
    bool ownerEnabled = true;
};

// Records what the chooser offers, then cancels it.
gtkdrv::ModalHandler LookAndCancel(ChooserSeen* seen, GtkWindow* owner) {
    return [seen, owner](CWnd*, GtkWindow* chooser) {
        ASSERT_TRUE(GTK_IS_FILE_CHOOSER(chooser));
        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
        EXPECT_EQ(gtk_file_chooser_get_action(fc), GTK_FILE_CHOOSER_ACTION_OPEN);
        GtkFileFilter* filter = gtk_file_chooser_get_filter(fc);
        ASSERT_NE(filter, nullptr);
        seen->filterName = gtk_file_filter_get_name(filter);
        for (const char* name :
             {"fw.EUP", "fw.eup", "FW.Eup", "fw.UPL", "fw.upl", "fwEUP", "fw.EUP.bak"}) {
            (FilterTakes(filter, name) ? seen->taken : seen->refused).emplace_back(name);
        }
        gchar* folder = gtk_file_chooser_get_current_folder(fc);
        seen->folder = folder ? folder : "";
        g_free(folder);
        seen->ownerEnabled = gtk_widget_get_sensitive(GTK_WIDGET(owner));
        gtkdrv::RespondToDialog(chooser, GTK_RESPONSE_CANCEL);
    };
}

}  // namespace

// The chooser shows the machine type's files, whatever the case of their
// names; cancelling changes nothing but the status line.
TEST_F(GtkDialogTest, ChooserFiltersByTheMachineTypesPattern) {
    for (MachineType type : {MachineType{0}, MachineType{1}}) {
        if (type == 1) {
            ASSERT_NO_FATAL_FAILURE(SelectMachineType(1));
        }
        const std::string length = Shown(IDC_LENGTH);
        const bool programWas = Sensitive(IDC_PROGRAM);
        ChooserSeen seen;
        gtk::SetFileDialogFolder(dir.path().string());
        gtkdrv::OnNextModal(LookAndCancel(&seen, Window()));
        Press(IDC_LOAD_FILE);

        SCOPED_TRACE(kMachineTypes[type].name);
        EXPECT_EQ(seen.filterName, kMachineTypes[type].filePattern);
        if (type == 0) {
            EXPECT_EQ(seen.taken, (std::vector<std::string>{"fw.EUP", "fw.eup", "FW.Eup"}));
        } else {
            EXPECT_EQ(seen.taken, (std::vector<std::string>{"fw.UPL", "fw.upl"}));
        }
        EXPECT_EQ(seen.folder, dir.path().string());
        EXPECT_FALSE(seen.ownerEnabled) << "the main window stayed usable under the chooser";
        EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(Window())));
        EXPECT_EQ(Status(), kStatusOpenFile);
        EXPECT_EQ(Shown(IDC_LENGTH), length);
        EXPECT_EQ(Sensitive(IDC_PROGRAM), programWas);
    }
}

TEST_F(GtkDialogTest, LoadedFileShowsItsLengthAndEnablesProgram) {
    Load(WriteFile(Pattern(5000), "image.eup"));
    EXPECT_EQ(Shown(IDC_LENGTH), "5000");
    EXPECT_EQ(Shown(IDC_SEND_LENGTH), "0");
    EXPECT_TRUE(Sensitive(IDC_PROGRAM));
    EXPECT_FALSE(Sensitive(IDC_MACHINE_TYPE));
    EXPECT_EQ(dlg->GetImageLength(), 5000u);
    EXPECT_EQ(Bytes(dlg->GetImage(), dlg->GetImage() + 5000), Pattern(5000));

    // The next chooser opens where this one ended.
    ChooserSeen seen;
    gtkdrv::OnNextModal(LookAndCancel(&seen, Window()));
    Press(IDC_LOAD_FILE);
    EXPECT_EQ(seen.folder, dir.path().string());
}

// A file that cannot be opened, or opens but cannot be read, is reported
// by the framework's message box; what the window showed stays.
TEST_F(GtkDialogTest, UnreadableFileIsReportedAndChangesNothing) {
    Load(WriteFile(Pattern(10), "good.EUP"));
    ASSERT_EQ(Shown(IDC_LENGTH), "10");

    struct Case {
        const char* what;
        std::filesystem::path path;
        bool viaOpenButton;  // the chooser itself returns it
        const char* reason;  // in the message
    };
    const auto folder = dir.path() / "folder.EUP";
    std::filesystem::create_directory(folder);
    const auto dangling = dir.path() / "gone.EUP";
    ASSERT_EQ(symlink((dir.path() / "nowhere").c_str(), dangling.c_str()), 0);
    const Case cases[] = {
        {"a link to nothing", dangling, true, "No such file or directory"},
        {"a folder", folder, false, "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool chosen = false;
        std::string message;
        gtkdrv::OnNextModal([&](CWnd*, GtkWindow* chooser) {
            chosen = c.viaOpenButton ? gtkdrv::AnswerFileChooser(chooser, c.path.string())
                                     : gtkdrv::ForceFileChooserAnswer(chooser, c.path.string());
        });
        gtkdrv::OnNextModal([&](CWnd*, GtkWindow* box) {
            EXPECT_TRUE(GTK_IS_MESSAGE_DIALOG(box));
            message = gtkdrv::MessageBoxText(box);
            gtkdrv::RespondToDialog(box, GTK_RESPONSE_OK);
        });
        Press(IDC_LOAD_FILE);
        EXPECT_TRUE(chosen);
        EXPECT_NE(message.find(c.path.string()), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(Shown(IDC_LENGTH), "10");
        EXPECT_EQ(dlg->GetImageLength(), 10u);
        EXPECT_EQ(Status(), kStatusOpenFile);
        EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(Window())));
    }
}
