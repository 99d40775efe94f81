// The station's application object and its start routine.
#include "app/station_app.h"

#include <cstdio>
#include <cstdlib>

#include "station/station_file.h"
#include "tools/options/command_line.h"
#include "ui/station_dlg.h"
#include "ui/station_setup_dlg.h"

CStationApp theStationApp;

std::string TakeStationCommandLine(int argc, const char* const* argv) {
    bool start = false;
    std::string path;
    CommandLineTable table{{FlagOption("--start", &start)}};
    table.arguments = [&path](const std::string& word) -> std::string {
        if (!path.empty()) {
            return "one station file at most (" + path + ", then " + word + ")";
        }
        path = word;
        return "";
    };
    const std::string problem = ParseCommandLine(argc, argv, table);
    if (problem.empty()) {
        theStationApp.SetStationFile(path);
        theStationApp.SetStartAtOnce(start);
    }
    return problem;
}

namespace {

// For the benchmarks: how late the window's timer ran, written when
// DT_STATION_LATENESS names a file.
void WriteLateness(const CStationDlg& dlg) {
    const char* path = std::getenv("DT_STATION_LATENESS");
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* f = std::fopen(path, "w")) {
        std::fprintf(f, "{\"ticks\":%u,\"late_p99_ms\":%u,\"late_max_ms\":%u}\n", dlg.Ticks(),
                     dlg.LatenessP99(), dlg.LatenessMax());
        std::fclose(f);
    }
}

}  // namespace

BOOL CStationApp::InitInstance() {
    AfxEnableControlContainer();

    StationSettings settings;
    std::string path = m_path;
    bool locked = false;
    if (!path.empty()) {
        std::string error;
        if (!ReadStationFile(path, settings, error)) {
            std::fprintf(stderr, "download-station: %s\n", error.c_str());
            AfxMessageBox("The station file cannot be read:\n\n" + error, MB_OK | MB_ICONERROR);
            m_exitCode = 1;
            return FALSE;
        }
        locked = true;
    } else {
        // No file: the station is set up by hand first.
        CStationSetupDlg setup(settings);
        if (setup.DoModal() != IDOK) {
            return FALSE;
        }
        settings = setup.Settings();
        path = setup.SavedPath();
    }

    bool start = m_start;
    for (;;) {
        CStationDlg dlg(settings, path, locked);
        dlg.SetStartAtOnce(start);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
        WriteLateness(dlg);
        if (!dlg.RebuildWanted()) {
            break;
        }
        settings = dlg.NextSettings();
        path = dlg.NextFilePath();
        locked = dlg.NextLocked();
        start = false;
    }
    // FALSE: end the application rather than enter a message loop.
    return FALSE;
}
