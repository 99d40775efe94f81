// The station's application object and its start routine.
#include "app/station_app.h"

#include <cstdio>
#include <cstdlib>

#include "app/password_input.h"
#include "station/password.h"
#include "station/station_file.h"
#include "tools/options/command_line.h"
#include "ui/station_dlg.h"
#include "ui/station_setup_dlg.h"

CStationApp theStationApp;

std::string TakeStationCommandLine(int argc, const char* const* argv) {
    bool start = false;
    std::string path;
    std::string passwordFile;
    CommandLineTable table{{FlagOption("--start", &start),
                            TextOption("--set-password", "a station file", &passwordFile)}};
    table.arguments = [&path](const std::string& word) -> std::string {
        if (!path.empty()) {
            return "one station file at most (" + path + ", then " + word + ")";
        }
        path = word;
        return "";
    };
    std::string problem = ParseCommandLine(argc, argv, table);
    if (problem.empty() && !passwordFile.empty() && (start || !path.empty())) {
        problem = "--set-password opens no window: give it with its station file alone";
    }
    if (problem.empty()) {
        theStationApp.SetStationFile(path);
        theStationApp.SetStartAtOnce(start);
        theStationApp.SetPasswordFile(passwordFile);
    }
    return problem;
}

bool AsksToSetPassword(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            break;  // arguments from here on
        }
        if (word == "--set-password" || word.starts_with("--set-password=")) {
            return true;
        }
    }
    return false;
}

int SetStationPassword(const std::string& path) {
    auto fail = [&path](const std::string& why) {
        TellPasswordOutcome(why + "; " + path + " is unchanged", true);
        return 1;
    };
    // The file as it is written, so that what it names without a folder
    // stays so.
    StationSettings settings;
    std::string error;
    if (!ReadStationFileAsWritten(path, settings, error)) {
        TellPasswordOutcome(error, true);
        return 1;
    }
    std::string password, again;
    if (!ReadPassword("New supervisor password: ", password, error)) {
        return fail("reading the password: " + error);
    }
    if (password.empty()) {
        return fail("an empty password is refused");
    }
    if (!ReadPassword("The same password again: ", again, error)) {
        return fail("reading the password again: " + error);
    }
    if (again != password) {
        return fail("the two passwords differ");
    }
    PasswordHash hash;
    if (!HashPassword(password, kPasswordIterations, hash, error)) {
        return fail("hashing the password: " + error);
    }
    settings.password = FormatPasswordHash(hash);
    if (!WriteStationFile(path, settings, error)) {
        return fail(error);
    }
    TellPasswordOutcome("the supervisor password of " + path + " is set", false);
    return 0;
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
