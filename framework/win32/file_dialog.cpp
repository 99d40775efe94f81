// The file dialogs on Win32: the common Open and Save As dialogs, with the
// pattern as their filter and the initial name as given. Through the wide
// calls, so that the path chosen comes back in UTF-8 whatever the ANSI code
// page cannot spell.
#include <vector>

#include "framework/afxdlgs.h"
#include "framework/win32/window_impl.h"

INT_PTR CFileDialog::DoModal() {
    // "description|pattern|" pairs; a bare pattern is its own description.
    std::string filter = m_filter;
    if (filter.find('|') == std::string::npos) {
        filter = filter + "|" + filter + "|";
    }
    std::wstring filterText = win32::Widen(filter);
    for (wchar_t& c : filterText) {
        if (c == L'|') {
            c = L'\0';
        }
    }
    filterText.push_back(L'\0');  // the list's end, after the last pair's

    // Room for a long path: the dialog refuses a choice that does not fit.
    std::vector<wchar_t> file(32 * 1024, L'\0');
    const std::wstring initial = win32::Widen(m_fileName);
    initial.copy(file.data(), file.size() - 1);
    const std::wstring defExt = win32::Widen(m_defExt);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->Impl()->hwnd : win32::MainWindow();
    ofn.lpstrFilter = filterText.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = defExt.empty() ? nullptr : defExt.c_str();
    ofn.Flags = m_flags | OFN_EXPLORER;
    const BOOL chosen = m_bOpenFileDialog ? ::GetOpenFileNameW(&ofn) : ::GetSaveFileNameW(&ofn);
    if (!chosen) {
        return IDCANCEL;
    }
    m_path = win32::Utf8(file.data());
    return IDOK;
}
