// The framework's common dialogs: the Open and Save As dialogs.
//
// CFileDialog shows the platform's file chooser, to open a file
// (bOpenFileDialog TRUE) or to save one. The filter is given as the classic
// framework gives it: pairs of "description|pattern|", or a bare pattern
// with no separators, which then serves as both. The initial file name,
// when it is a pattern, selects the files listed. The path chosen is UTF-8
// on every system.
#pragma once

#include <string>

#include "framework/afxwin.h"

class CFileDialog : public CWnd {
  public:
    CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = nullptr, LPCTSTR lpszFileName = nullptr,
                DWORD dwFlags = 0, LPCTSTR lpszFilter = nullptr, CWnd* pParentWnd = nullptr);

    // IDOK when the user chose a file, IDCANCEL otherwise.
    INT_PTR DoModal();
    std::string GetPathName() const { return m_path; }

    BOOL m_bOpenFileDialog;
    std::string m_defExt, m_fileName, m_filter;
    DWORD m_flags;
    CWnd* m_pParentWnd;

  private:
    std::string m_path;
};
