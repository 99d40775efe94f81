// DownloadStation.exe: the station window on Win32.
//
//   DownloadStation.exe [--start] [STATION-FILE]
//   DownloadStation.exe --set-password STATION-FILE
//
// The command line is read as the system holds it, in UTF-16, and handed
// on in UTF-8, the station's own encoding of paths.
#include "framework/win32/win32.h"

#include <string>

#include "app/station_app.h"
#include "framework/afxwin.h"
#include "tools/options/command_line.h"
#include "tools/options/info_options.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    win32::Utf8Arguments arguments;
    const int argc = arguments.Count();
    char** argv = arguments.Pointers();

    // A window program has no console: the answers go to a message box.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            ::MessageBoxA(nullptr, kStationUsage, "Download Station", MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        if (word == "--version") {
            ::MessageBoxA(nullptr, "DownloadStation " DT_VERSION, "Download Station", MB_OK);
            return 0;
        }
    }
    if (const std::string problem = TakeStationCommandLine(argc, argv); !problem.empty()) {
        const std::string text = "DownloadStation: " + problem + "\n\n" + kStationUsage;
        ::MessageBoxW(nullptr, win32::Widen(text).c_str(), L"Download Station",
                      MB_OK | MB_ICONERROR);
        return kCommandLineRefused;
    }
    if (!theStationApp.PasswordFile().empty()) {
        return SetStationPassword(theStationApp.PasswordFile());  // no window
    }
    AfxWinMain(argc, argv);
    return theStationApp.ExitCode();
}
