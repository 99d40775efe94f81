// download-station: the station window on GTK 3, serial ports on tty
// devices.
//
//   download-station [--start] [STATION-FILE] [--help] [--version]
//   download-station --set-password STATION-FILE
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "app/station_app.h"
#include "framework/afxwin.h"
#include "framework/gtk/gtk_backend.h"
#include "tools/options/command_line.h"
#include "tools/options/info_options.h"

namespace {

// Ctrl+C, or a polite kill, ends the station as closing it would, whatever
// window is up: every position stops at once, its unit recorded as
// interrupted, and its port is closed and restored.
gboolean EndOnSignal(gpointer) {
    gtk::EndAllModalLoops();
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOptions(argc, argv, "download-station", kStationUsage)) {
        return 0;
    }
    // No window: answered before GTK, so that it needs no display.
    if (AsksToSetPassword(argc, argv)) {
        if (const std::string problem = TakeStationCommandLine(argc, argv); !problem.empty()) {
            return RefuseCommandLine("download-station", problem, kStationUsage);
        }
        return SetStationPassword(theStationApp.PasswordFile());
    }
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        setenv("GSETTINGS_BACKEND", "memory", 0);
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "download-station: cannot open the display\n");
        return 1;
    }
    if (const std::string problem = TakeStationCommandLine(argc, argv); !problem.empty()) {
        return RefuseCommandLine("download-station", problem, kStationUsage);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        g_unix_signal_add(signal, &EndOnSignal, nullptr);
    }
    // A file-size limit fails a record's write, which the window shows,
    // rather than ending the program with the units under way.
    signal(SIGXFSZ, SIG_IGN);
    AfxWinMain(argc, argv);
    return theStationApp.ExitCode();
}
