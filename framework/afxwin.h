// The dialog framework: the small subset of the classic Windows dialog
// application framework that this tool is written against.
//
// Principles of operation
// -----------------------
// One thread, the user-interface thread, owns every window, but for the
// hidden dialogs of window threads (framework/window_thread.h), each owned
// by its own thread and served there as this header says. Windows are
// dialogs built from templates (framework/dialog_template.h) and their
// controls, addressed by control id. Every event reaches a dialog as a
// message (WM_COMMAND, WM_TIMER, WM_SYSCOMMAND, WM_PAINT, private messages)
// and is routed through the dialog's message map to a member handler. A
// message with no entry goes to the default handling, which does nothing
// visible.
//
// The same header is implemented by three backends, chosen by the build:
//   framework/headless/  records what each control shows and runs on a
//                        virtual clock that tests advance (headless.h);
//   framework/gtk/       GTK 3 windows on the GTK main loop;
//   framework/win32/     real Win32 dialogs.
// Code above this layer never knows which one it runs on.
//
// Threads: everything declared here is for the thread that owns the window
// (the user-interface thread, or a window thread), except CHandOver::Send
// (framework/handover.h), which is how a worker thread hands data to a
// window.
//
// Timers are the platform's: SetTimer arms a periodic timer, arming an armed
// timer with the same id replaces it, and KillTimer disarms it. A handler
// that kills its own timer on entry makes it one-shot.
//
// Failures of the file class (CFile) are raised as CFileException. When one
// escapes a command handler, the framework reports it in a message box and
// the command ends there, as the classic framework does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// --- Basic types and message numbers, with the platform's values. --------

using BYTE = std::uint8_t;
using UINT = unsigned int;
using DWORD = unsigned long;
using BOOL = int;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
// The platform's LONG_PTR: long where long is as wide as a pointer.
using LONG_PTR = std::conditional_t<sizeof(long) == sizeof(void*), long, long long>;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using LPCTSTR = const char*;

struct HICON__;
using HICON = HICON__*;  // icons are opaque; the backend owns them
using HCURSOR = HICON;
struct HDC__;
using HDC = HDC__*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT CBN_SELCHANGE = 1;

inline constexpr UINT CB_ADDSTRING = 0x0143;
inline constexpr UINT CB_GETCOUNT = 0x0146;
inline constexpr UINT CB_GETCURSEL = 0x0147;
inline constexpr UINT CB_GETLBTEXT = 0x0148;  // lParam: std::string* to fill
inline constexpr UINT CB_SETCURSEL = 0x014E;
inline constexpr UINT PBM_SETRANGE = 0x0401;  // lParam: MAKELPARAM(low, high), 16 bits each
inline constexpr UINT PBM_SETPOS = 0x0402;
inline constexpr UINT PBM_GETRANGE = 0x0407;  // wParam: TRUE for the low end, FALSE for the high
inline constexpr UINT PBM_GETPOS = 0x0408;
inline constexpr LRESULT CB_ERR = -1;

inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;
inline constexpr UINT SC_CLOSE = 0xF060;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message box styles: the buttons, then the icon.
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_YESNO = 0x0004;
inline constexpr UINT MB_ICONERROR = 0x0010;
inline constexpr UINT MB_ICONWARNING = 0x0030;

inline constexpr int ICON_SMALL = 0;
inline constexpr int ICON_BIG = 1;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

inline constexpr DWORD OFN_HIDEREADONLY = 0x0004;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x0002;

constexpr UINT LOWORD(WPARAM v) {
    return static_cast<UINT>(v & 0xFFFF);
}
constexpr UINT HIWORD(WPARAM v) {
    return static_cast<UINT>((v >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(UINT lo, UINT hi) {
    return (lo & 0xFFFF) | ((hi & 0xFFFF) << 16);
}
constexpr LPARAM MAKELPARAM(UINT lo, UINT hi) {
    return static_cast<LPARAM>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16));
}

// The platform's GetSystemMetrics (named apart so that it can sit beside
// the platform's own declaration in the Windows backend).
int AfxGetSystemMetrics(int index);

// --- Message maps. --------------------------------------------------------

class CWnd;

// One entry binds (message, notification code, control id) to a handler.
// For WM_COMMAND the code and id are matched against HIWORD and LOWORD of
// wParam; for every other message they are 0 and ignored.
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    LRESULT (*pfn)(CWnd* self, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;  // ends with an entry whose pfn is null
};

#define DECLARE_MESSAGE_MAP()                         \
  protected:                                          \
    static const AFX_MSGMAP* GetThisMessageMap();     \
    const AFX_MSGMAP* GetMessageMap() const override; \
                                                      \
  public:                                             \
    static const AFX_MSGMAP* GetStaticMessageMap() {  \
        return GetThisMessageMap();                   \
    }

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                      \
    { 0, 0, 0, nullptr }                                                                       \
    }                                                                                          \
    ;                                                                                          \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetStaticMessageMap, messageEntries}; \
    return &messageMap;                                                                        \
    }

#define AFX_THIS(w) static_cast<ThisClass*>(w)

#define ON_BN_CLICKED(id, memberFxn)                                                         \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
         AFX_THIS(w)->memberFxn();                                                           \
         return 0;                                                                           \
     }},
#define ON_CBN_SELCHANGE(id, memberFxn)                                                         \
    {WM_COMMAND, CBN_SELCHANGE, static_cast<UINT>(id), [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
         AFX_THIS(w)->memberFxn();                                                              \
         return 0;                                                                              \
     }},
#define ON_WM_SYSCOMMAND()                                               \
    {WM_SYSCOMMAND, 0, 0, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT { \
         AFX_THIS(w)->OnSysCommand(static_cast<UINT>(wp), lp);           \
         return 0;                                                       \
     }},
#define ON_WM_PAINT()                                         \
    {WM_PAINT, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
         AFX_THIS(w)->OnPaint();                              \
         return 0;                                            \
     }},
#define ON_WM_QUERYDRAGICON()                                              \
    {WM_QUERYDRAGICON, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {      \
         return reinterpret_cast<LRESULT>(AFX_THIS(w)->OnQueryDragIcon()); \
     }},
#define ON_WM_TIMER()                                            \
    {WM_TIMER, 0, 0, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT { \
         AFX_THIS(w)->OnTimer(static_cast<UINT_PTR>(wp));        \
         return 0;                                               \
     }},
#define ON_MESSAGE(message, memberFxn) \
    {message, 0, 0,                    \
     [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT { return AFX_THIS(w)->memberFxn(wp, lp); }},

// --- Windows and controls. ------------------------------------------------

struct DialogTemplate;
struct WindowImpl;  // defined by the backend
struct WindowData;  // its portable part
class CMenu;

struct CRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

class CWnd {
  public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Sends a message on the user-interface thread. To a dialog: routed
    // through its message map now, and the handler's result returned. To a
    // control: the control message (CB_*, PBM_*) is carried out.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // The control with this id, or null. Owned by the dialog.
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;

    void SetWindowText(LPCTSTR text);
    std::string GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    // Gives the keyboard's input to this window (a control of a dialog
    // that is up); nothing where there is no keyboard.
    void SetFocus();
    BOOL IsWindowEnabled() const;
    BOOL IsWindowVisible() const;

    // Text and unsigned numbers of a control, addressed by id.
    void SetDlgItemText(int nID, LPCTSTR text);
    std::string GetDlgItemText(int nID) const;
    void SetDlgItemInt(int nID, UINT value, BOOL bSigned = TRUE);
    UINT GetDlgItemInt(int nID, BOOL* translated = nullptr, BOOL bSigned = TRUE) const;

    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, void* unused = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);

    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL IsIconic() const;
    void GetClientRect(CRect* rect) const;
    BOOL DestroyWindow();
    bool IsWindowAlive() const;  // created and not yet destroyed

    // Message routing: the map first, then the default handling.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();  // default handling of the message being routed

    WindowImpl* Impl() const { return m_pImpl.get(); }
    // The part of Impl() that every backend keeps (framework/window_data.h).
    WindowData& Data() const;

    static const AFX_MSGMAP* GetStaticMessageMap();

  protected:
    virtual const AFX_MSGMAP* GetMessageMap() const;
    virtual void OnPostDestroy() {}
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    std::unique_ptr<WindowImpl> m_pImpl;
    int m_nID = 0;  // control id, for controls
    UINT m_currentMessage = 0;
    WPARAM m_currentWParam = 0;
    LPARAM m_currentLParam = 0;

    friend struct WindowData;
    friend class CDialog;
};

class CMenu {
  public:
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR text = nullptr);

    struct Item {
        UINT flags;
        UINT_PTR id;
        std::string text;
    };
    std::vector<Item> m_items;  // what has been appended, in order

    // Set by a backend whose menus are the platform's: called for each item
    // appended, after it is recorded.
    void* m_hMenu = nullptr;
    BOOL (*m_pfnAppend)(CMenu* menu, const Item& item) = nullptr;
};

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the window from its template and runs it until EndDialog or
    // DestroyWindow. Returns the EndDialog result, or IDCANCEL when the
    // window was destroyed. Timers and hand-overs of every window keep
    // being handled while it runs.
    virtual INT_PTR DoModal();
    // Creates the window from its template without running it (modeless),
    // as tests and embedders do. Runs OnInitDialog. A window created hidden
    // is never shown: it serves a front end that drives the dialog through
    // its messages and shows what happens in a window of its own (its
    // timers and hand-overs run as a shown window's do).
    BOOL Create(BOOL bShow = TRUE);
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    static const AFX_MSGMAP* GetStaticMessageMap();

  protected:
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    void OnTimer(UINT_PTR nIDEvent);

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    virtual BOOL InitInstance() { return TRUE; }
    HICON LoadIcon(UINT nIDResource) const;
    void Enable3dControlsStatic() {}

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
void AfxEnableControlContainer();
// Runs the application: InitInstance, then, if it returned TRUE, the
// backend's message loop until the main window goes. Returns the exit code.
int AfxWinMain(int argc, char** argv);

// Painting while minimized.
class CPaintDC {
  public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon);

  private:
    [[maybe_unused]] CWnd* m_pWnd;
    HDC m_hDC;
    [[maybe_unused]] alignas(
        8) unsigned char m_paint[128];  // the platform's paint record, if it has one
};

// Resources, supplied by the application (ui/resources.cpp).
const DialogTemplate* AfxFindDialogTemplate(UINT nIDTemplate);
std::string AfxLoadString(UINT nID);  // empty when there is no such string

// The framework's message box, as used by its own error reports.
int AfxMessageBox(const std::string& text);
// A message box with buttons and an icon (MB_OK or MB_YESNO, with
// MB_ICONWARNING or MB_ICONERROR): returns IDOK, IDYES or IDNO. Closing a
// yes/no box without an answer is IDNO.
int AfxMessageBox(const std::string& text, UINT nType);

// The framework's clock: milliseconds since some fixed moment, never going
// back; the clock its timers count on (on the headless backend, the
// virtual clock).
std::uint64_t AfxTickCount();
