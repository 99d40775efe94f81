// The platform's dialogs: the open-file dialog (GtkFileChooserDialog) and
// the framework's message box (GtkMessageDialog).
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "framework/afxdlgs.h"
#include "framework/gtk/gtk_backend.h"
#include "framework/gtk/window_impl.h"

namespace gtk {
namespace {

std::string& FileDialogFolder() {
    static std::string folder;
    return folder;
}

// Windows matches file names without regard to case: "*.UPL" lists
// "fw.upl" too. GTK 3's patterns are case-sensitive, so each letter
// becomes a bracket of both cases.
std::string CaseInsensitive(const std::string& pattern) {
    std::string out;
    for (const char ch : pattern) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalpha(c)) {
            out += '[';
            out += static_cast<char>(std::tolower(c));
            out += static_cast<char>(std::toupper(c));
            out += ']';
        } else {
            out += ch;
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// "description|pattern;pattern|..." as the classic framework gives it, or a
// bare pattern that serves as both.
std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter) {
    std::vector<std::pair<std::string, std::string>> out;
    if (filter.empty()) {
        return out;
    }
    if (filter.find('|') == std::string::npos) {
        out.emplace_back(filter, filter);
        return out;
    }
    const std::vector<std::string> parts = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (!parts[i + 1].empty()) {
            out.emplace_back(parts[i], parts[i + 1]);
        }
    }
    return out;
}

GtkFileFilter* MakeFilter(const std::string& name, const std::string& patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name.c_str());
    for (const std::string& p : Split(patterns, ';')) {
        if (!p.empty()) {
            gtk_file_filter_add_pattern(filter, CaseInsensitive(p).c_str());
        }
    }
    return filter;
}

bool IsPattern(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

// Runs a platform dialog modally over its owner, which is disabled meanwhile
// as under Windows. Timers and hand-overs go on in its loop.
gint RunModal(GtkDialog* dialog, CWnd* owner) {
    const ModalOwner disabled(owner);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    NoteModalShown(nullptr, GTK_WINDOW(dialog));
    return gtk_dialog_run(dialog);
}

GtkWindow* ParentWindow(CWnd* owner) {
    return owner && owner->IsWindowAlive() ? GTK_WINDOW(WidgetOf(*owner)) : nullptr;
}

}  // namespace

void SetFileDialogFolder(const std::string& folder) {
    FileDialogFolder() = folder;
}

}  // namespace gtk

// --- The open-file dialog -------------------------------------------------------------

INT_PTR CFileDialog::DoModal() {
    CWnd* owner = gtk::DefaultOwner(m_pParentWnd, this);
    const bool open = m_bOpenFileDialog != FALSE;
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        g_dgettext("gtk30", open ? "Open File" : "Save File"), gtk::ParentWindow(owner),
        open ? GTK_FILE_CHOOSER_ACTION_OPEN : GTK_FILE_CHOOSER_ACTION_SAVE,
        g_dgettext("gtk30", "_Cancel"), GTK_RESPONSE_CANCEL,
        g_dgettext("gtk30", open ? "_Open" : "_Save"), GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(fc, TRUE);
    if (!open && (m_flags & OFN_OVERWRITEPROMPT)) {
        gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);
    }

    std::string& folder = gtk::FileDialogFolder();
    if (folder.empty()) {
        gchar* cwd = g_get_current_dir();
        folder = cwd;
        g_free(cwd);
    }
    gtk_file_chooser_set_current_folder(fc, folder.c_str());

    // The filter list; an initial name that is a pattern selects the files
    // listed, as a filter of its own unless one of the list has it already.
    GtkFileFilter* selected = nullptr;
    for (const auto& [name, patterns] : gtk::ParseFilter(m_filter)) {
        GtkFileFilter* filter = gtk::MakeFilter(name, patterns);
        gtk_file_chooser_add_filter(fc, filter);
        if (selected == nullptr && patterns == m_fileName) {
            selected = filter;
        }
    }
    if (gtk::IsPattern(m_fileName)) {
        if (selected == nullptr) {
            selected = gtk::MakeFilter(m_fileName, m_fileName);
            gtk_file_chooser_add_filter(fc, selected);
        }
        gtk_file_chooser_set_filter(fc, selected);
    } else if (!m_fileName.empty()) {
        if (open) {
            gchar* path = g_build_filename(folder.c_str(), m_fileName.c_str(), nullptr);
            gtk_file_chooser_select_filename(
                fc, g_path_is_absolute(m_fileName.c_str()) ? m_fileName.c_str() : path);
            g_free(path);
        } else {
            gtk_file_chooser_set_current_name(fc, m_fileName.c_str());
        }
    }

    INT_PTR result = IDCANCEL;
    if (gtk::RunModal(GTK_DIALOG(chooser), owner) == GTK_RESPONSE_ACCEPT) {
        if (gchar* path = gtk_file_chooser_get_filename(fc)) {
            m_path = path;
            gchar* dir = g_path_get_dirname(path);
            folder = dir;  // the next dialog starts where this one ended
            g_free(dir);
            g_free(path);
            result = IDOK;
        }
    }
    gtk_widget_destroy(chooser);
    return result;
}

// --- The framework's message box ------------------------------------------------------

int AfxMessageBox(const std::string& text) {
    return AfxMessageBox(text, MB_OK);
}

// OK or Yes and No, with a warning or an error sign; a box that names no
// sign has the warning sign (the framework's own reports), or the question
// sign when it asks. Closing a yes/no box without an answer is No.
int AfxMessageBox(const std::string& text, UINT nType) {
    const bool yesNo = (nType & 0x0F) == MB_YESNO;
    GtkMessageType sign = yesNo ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_WARNING;
    switch (nType & 0xF0) {
        case MB_ICONERROR:
            sign = GTK_MESSAGE_ERROR;
            break;
        case MB_ICONWARNING:
            sign = GTK_MESSAGE_WARNING;
            break;
        default:
            break;
    }
    CWnd* owner = gtk::DefaultOwner(nullptr, nullptr);
    GtkWidget* box =
        gtk_message_dialog_new(gtk::ParentWindow(owner), GTK_DIALOG_DESTROY_WITH_PARENT, sign,
                               yesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", text.c_str());
    if (const gchar* name = g_get_application_name()) {
        gtk_window_set_title(GTK_WINDOW(box), name);
    }
    const gint response = gtk::RunModal(GTK_DIALOG(box), owner);
    gtk_widget_destroy(box);
    if (!yesNo) {
        return IDOK;
    }
    return response == GTK_RESPONSE_YES ? IDYES : IDNO;
}
