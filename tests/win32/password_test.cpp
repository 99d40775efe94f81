// The supervisor's password on Windows: the password dialog's field is the
// system's own password edit, and DownloadStation.exe --set-password, fed
// from a pipe as a script would feed it, writes a hash that checks.
#include <gtest/gtest.h>

#include "framework/win32/window_impl.h"  // first: the framework's names, then Windows'

#include <fstream>
#include <string>
#include <vector>

#include "station/password.h"
#include "station/station_file.h"
#include "tests/test_data.h"
#include "tests/win32/win32_support.h"
#include "ui/password_dlg.h"
#include "ui/station_setup_dlg.h"

namespace {

LONG StyleOf(CDialog& dialog, int id) {
    return GetWindowLongA(dialog.GetDlgItem(id)->Impl()->hwnd, GWL_STYLE);
}

TEST(StationPasswordWindow, ThePasswordFieldShowsMarksAndGivesItsText) {
    CWinApp app;
    CPasswordDlg ask;
    ASSERT_TRUE(ask.Create());
    Pump(50);
    EXPECT_NE(StyleOf(ask, IDC_PW_PASSWORD) & ES_PASSWORD, 0);
    HWND field = ask.GetDlgItem(IDC_PW_PASSWORD)->Impl()->hwnd;
    EXPECT_NE(SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0), 0) << "a mark for each character";
    ask.SetDlgItemText(IDC_PW_PASSWORD, "Sup3r-Secret \xC3\xA9");
    EXPECT_EQ(ask.GetDlgItemText(IDC_PW_PASSWORD), "Sup3r-Secret \xC3\xA9");
    ask.DestroyWindow();

    // An ordinary field shows its text.
    CStationSetupDlg setup(StationSettings{});
    ASSERT_TRUE(setup.Create());
    EXPECT_EQ(StyleOf(setup, IDC_SU_IMAGE) & ES_PASSWORD, 0);
    setup.DestroyWindow();
    Pump(50);
}

// The program beside this one, with standard input, output and error led
// to pipes: what it prints, and its exit code; -1 when it did not end in
// time (it is ended then).
struct Ran {
    DWORD exitCode = static_cast<DWORD>(-1);
    std::string out, err;
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char piece[512];
    DWORD n = 0;
    while (ReadFile(pipe, piece, sizeof piece, &n, nullptr) && n > 0) {
        text.append(piece, n);
    }
    return text;
}

Ran RunStation(const std::vector<std::string>& args, const std::string& input) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = self;
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"DownloadStation.exe";
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::string& arg : args) {
        line += L" \"" + win32::Widen(arg) + L"\"";
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
    Ran ran;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0) ||
        !CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe: " << GetLastError();
        return ran;
    }
    for (HANDLE ours : {inWrite, outRead, errRead}) {
        SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = inRead;
    start.hStdOutput = outWrite;
    start.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &start, &child);
    for (HANDLE theirs : {inRead, outWrite, errWrite}) {
        CloseHandle(theirs);
    }
    if (!started) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        for (HANDLE ours : {inWrite, outRead, errRead}) {
            CloseHandle(ours);
        }
        return ran;
    }
    DWORD written = 0;
    WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(inWrite);
    // What it prints is a line or two: the pipes hold it until it ends.
    if (WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(child.hProcess, &ran.exitCode);
    } else {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, 5000);
    }
    ran.out = ReadAll(outRead);
    ran.err = ReadAll(errRead);
    for (HANDLE h : {outRead, errRead, child.hProcess, child.hThread}) {
        CloseHandle(h);
    }
    return ran;
}

TEST(StationPasswordProgram, SetPasswordFromAPipeWritesAHashThatChecks) {
    TempDir dir{"station-password"};
    const std::string path = (dir.path() / "line.station").string();
    std::ofstream(path) << "type = 1\nimage = a.UPL\nport = COM3\n";

    const Ran differ = RunStation({"--set-password", path}, "one\r\ntwo\r\n");
    EXPECT_EQ(differ.exitCode, 1u) << differ.err;
    EXPECT_NE(differ.err.find("the two passwords differ"), std::string::npos) << differ.err;

    const Ran set = RunStation({"--set-password", path}, "Sup3r-Secret\r\nSup3r-Secret\r\n");
    ASSERT_EQ(set.exitCode, 0u) << set.err;
    EXPECT_NE(set.out.find("is set"), std::string::npos) << set.out;
    StationSettings read;
    std::string error;
    ASSERT_TRUE(ReadStationFileAsWritten(path, read, error)) << error;
    EXPECT_EQ(read.image, "a.UPL") << "named as the file named it";
    PasswordHash hash;
    ASSERT_TRUE(ParsePasswordHash(read.password, hash, error)) << error;
    EXPECT_EQ(hash.iterations, kPasswordIterations);
    EXPECT_EQ(CheckPassword("Sup3r-Secret", hash, error), PasswordCheck::Right) << error;
    EXPECT_EQ(CheckPassword("Sup3r-Secret\r", hash, error), PasswordCheck::Wrong) << error;
}

}  // namespace
