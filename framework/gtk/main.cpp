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
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "dt_version.h"
#include "framework/afxwin.h"
#include "framework/gtk/gtk_backend.h"
#include "serial/serial_port.h"
#include "tools/target_sim/posix/child_process.h"

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

constexpr std::size_t kDemoImageSize = 24 * 1024;

std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
}

// The demo's pieces, undone when it goes.
class Demo {
  public:
    ~Demo() {
        if (m_sim.Running()) {
            std::string said;
            m_sim.Stop(&said);
            if (!said.empty()) {
                std::fprintf(stdout, "target-sim: %s", said.c_str());
                std::fflush(stdout);
            }
        }
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }

    // Returns the port the simulator serves, or an empty string.
    std::string Start() {
        char pattern[] = "/tmp/download-tool-demo-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::fprintf(stderr, "download-tool: cannot make a folder for the demo: %s\n",
                         std::strerror(errno));
            return {};
        }
        m_dir = pattern;
        const auto image = m_dir / "demo.EUP";
        std::vector<char> bytes(kDemoImageSize);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        }
        std::ofstream(image, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

        const auto sim = ExecutableDir() / "target-sim";
        if (!m_sim.Start({sim.string(), "--type", "0", "--expect", image.string()})) {
            std::fprintf(stderr, "download-tool: cannot start %s\n", sim.c_str());
            return {};
        }
        const std::string port = m_sim.ReadLine(5000);
        if (port.empty()) {
            std::fprintf(stderr, "download-tool: %s did not name its port\n", sim.c_str());
            return {};
        }
        gtkfw::SetFileDialogFolder(m_dir.string());
        return port;
    }

  private:
    std::filesystem::path m_dir;
    ChildProcess m_sim;
};

// Ctrl+C, or a polite kill, ends the tool as Cancel would, whatever window
// is up, so that the demo's simulator is stopped and its folder removed.
gboolean EndOnSignal(gpointer) {
    gtkfw::EndAllModalLoops();
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("download-tool " DT_VERSION);
            return 0;
        }
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            ports.emplace_back(argv[++i]);
        } else if (arg == "--demo") {
            demo = true;
        } else {
            std::fprintf(stderr, "download-tool: unknown option %s\n\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }

    Demo simulator;
    if (demo) {
        const std::string port = simulator.Start();
        if (port.empty()) {
            return 1;
        }
        ports.push_back(port);
        // A newcomer starts here, often from the README: say what to do.
        std::printf(
            "download-tool: a simulated Lorvane 300 waits on %s.\n"
            "Next: press Load File, pick the sample image demo.EUP in the folder the dialog\n"
            "opens, then press Program. Close the window (or Ctrl+C here) to end the demo.\n",
            port.c_str());
        std::fflush(stdout);
    }
    if (!ports.empty()) {
        SetPortList(ports);
    }
    return AfxWinMain(argc, argv);
}
