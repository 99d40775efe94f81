// download-tool: the Linux program. The main dialog on GTK 3, serial ports
// on tty devices.
//
//   download-tool [--port PATH]... [--demo] [--help] [--version]
//
// --port replaces the list of ports a scan tries, in the order given.
// --demo starts the target simulator on a pseudo-terminal, puts its path in
// the port list, and offers a sample image, demo.EUP, in the file dialog:
// Load File, then Program, downloads it to the simulated Lorvane 300. The
// simulator is stopped when the tool ends and says whether it received the
// image intact.
#include "framework/gtk/gtk_headers.h"  // first: see there

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/download_app.h"
#include "app/posix/demo.h"
#include "framework/afxwin.h"
#include "framework/gtk/gtk_backend.h"
#include "tools/options/command_line.h"
#include "tools/options/info_options.h"

namespace {

constexpr char kUsage[] =
    "usage: download-tool [--port PATH]... [--demo]\n"
    "\n"
    "Programs a firmware image into a target machine over a serial port: Load\n"
    "File, then Program; the tool tries the ports one a second until a machine\n"
    "answers.\n"
    "\n"
    "  --port PATH  scan PATH for the machine; repeat for several ports, tried in\n"
    "               the order given (default: the serial ports present, then the\n"
    "               usual device names)\n"
    "  --demo       start a simulated Lorvane 300 on a pseudo-terminal and scan it;\n"
    "               the file dialog opens where a sample image, demo.EUP, waits\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

// Ctrl+C, or a polite kill, ends the tool as Cancel would, whatever window
// is up, so that the demo's simulator is stopped and its folder removed.
gboolean EndOnSignal(gpointer) {
    gtk::EndAllModalLoops();
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInfoOptions(argc, argv, "download-tool", kUsage)) {
        return 0;
    }
    // Without a session bus GTK cannot store its settings (the file
    // chooser's size, say) and complains at every change; keep them in
    // memory then.
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        setenv("GSETTINGS_BACKEND", "memory", 0);
    }
    // Takes GTK's own options (--display and the like) out of argv.
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "download-tool: cannot open the display\n");
        return 1;
    }

    // From here on a signal ends the tool as Cancel would, once the window's
    // loop runs; set before the demo starts, so the simulator and the
    // demo's folder are cleaned up whenever the signal comes.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        g_unix_signal_add(signal, &EndOnSignal, nullptr);
    }

    std::vector<std::string> ports;
    bool demo = false;
    const CommandLineTable options{{
        ListOption("--port", "a device path", &ports),
        FlagOption("--demo", &demo),
    }};
    if (const std::string problem = ParseCommandLine(argc, argv, options); !problem.empty()) {
        return RefuseCommandLine("download-tool", problem, kUsage);
    }

    Demo simulator;
    if (demo) {
        const std::string port = simulator.Start();
        if (port.empty()) {
            return 1;
        }
        gtk::SetFileDialogFolder(simulator.Folder().string());
        ports.push_back(port);
        // A newcomer starts here, often from the README: say what to do.
        std::printf(
            "download-tool: a simulated Lorvane 300 waits on %s.\n"
            "Next: press Load File, pick the sample image demo.EUP in the folder the dialog\n"
            "opens, then press Program. Close the window (or Ctrl+C here) to end the demo.\n",
            port.c_str());
        std::fflush(stdout);
    }
    theApp.SetPorts(ports);
    return AfxWinMain(argc, argv);
}
