// The open-file dialog on Win32: the common dialog, with the pattern as its
// filter and as the initial name.
#include <vector>

#include "framework/afxdlgs.h"
#include "framework/win32/window_impl.h"

INT_PTR CFileDialog::DoModal() {
    // "description|pattern|" pairs; a bare pattern is its own description.
    std::string filter = m_filter;
    if (filter.find('|') == std::string::npos) {
        filter = filter + "|" + filter + "|";
    }
    std::vector<char> filterBytes(filter.begin(), filter.end());
    for (char& c : filterBytes) {
        if (c == '|') {
            c = '\0';
        }
    }
    filterBytes.push_back('\0');

    std::vector<char> file(MAX_PATH * 4, '\0');
    m_fileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->Impl()->hwnd : win32::MainWindow();
    ofn.lpstrFilter = filterBytes.data();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = m_defExt.empty() ? nullptr : m_defExt.c_str();
    ofn.Flags = m_flags | OFN_EXPLORER;
    if (!::GetOpenFileNameA(&ofn)) {
        return IDCANCEL;
    }
    m_path = file.data();
    return IDOK;
}
