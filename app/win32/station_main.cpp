// DownloadStation.exe: the station window on Win32.
//
//   DownloadStation.exe [--start] [STATION-FILE]
//
// The command line is read as the system holds it, in UTF-16, and handed
// on in UTF-8, the station's own encoding of paths.
#include "framework/win32/win32.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/station_app.h"
#include "framework/afxwin.h"
#include "tools/options/command_line.h"
#include "tools/options/info_options.h"

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return "";
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> words;
    for (int i = 0; i < count; ++i) {
        words.push_back(Utf8(wide[i]));
    }
    ::LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // A window program has no console: the answers go to a message box.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[static_cast<std::size_t>(i)];
        if (word == "--help" || word == "-h") {
            ::MessageBoxA(nullptr, kStationUsage, "Download Station", MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        if (word == "--version") {
            ::MessageBoxA(nullptr, "DownloadStation " DT_VERSION, "Download Station", MB_OK);
            return 0;
        }
    }
    if (const std::string problem = TakeStationCommandLine(argc, argv.data()); !problem.empty()) {
        const std::string text = "DownloadStation: " + problem + "\n\n" + kStationUsage;
        ::MessageBoxA(nullptr, text.c_str(), "Download Station", MB_OK | MB_ICONERROR);
        return kCommandLineRefused;
    }
    AfxWinMain(argc, argv.data());
    return theStationApp.ExitCode();
}
