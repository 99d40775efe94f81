// The Win32 headers, for Win32 code only (the window backend, the serial
// backend, the console of download-cli.exe). The framework's own header
// comes first, so that its names keep their meaning; then the platform's,
// whose A/W macros are undone where they would rename the framework's
// members (CWnd::SendMessage must not become SendMessageA).
#pragma once

#include "framework/afxwin.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#undef SendMessage
#undef GetWindowText
#undef SetWindowText
#undef AppendMenu
#undef LoadIcon
#undef DefWindowProc
#undef SetDlgItemText
#undef GetDlgItemText
#undef MessageBox

#include <string>
#include <vector>

#include "disk/win32/system_text.h"  // UTF-8 to UTF-16 and back, the system's messages
#include "framework/dialog_template.h"

namespace win32 {
// The dialog template in the layout the dialog manager reads.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t);
// The large statics of a dialog just made from `t` get a font of its own
// (the dialog font, three times as high, bold), which goes with the dialog
// window: FreeLargeFont on its WM_NCDESTROY, when its controls are gone.
void SetLargeFonts(HWND dialog, const DialogTemplate& t);
void FreeLargeFont(HWND dialog);
HWND MainWindow();
}  // namespace win32
