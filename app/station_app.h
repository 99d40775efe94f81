// The station's application object: sets the station up (from its file,
// or by hand when there is none) and runs the station window, again for
// each change of settings.
#pragma once

#include <string>

#include "framework/afxwin.h"

class CStationApp : public CWinApp {
  public:
    BOOL InitInstance() override;

    // The station file to open locked; empty: set up by hand.
    void SetStationFile(std::string path) { m_path = std::move(path); }
    // Start every position as soon as the window is up.
    void SetStartAtOnce(bool start) { m_start = start; }
    // 0, or 1 when the station file could not be read.
    int ExitCode() const { return m_exitCode; }

  private:
    std::string m_path;
    bool m_start = false;
    int m_exitCode = 0;
};

extern CStationApp theStationApp;

inline constexpr char kStationUsage[] =
    "usage: download-station [--start] [STATION-FILE]\n"
    "\n"
    "The station window: one panel per fixture position, each programming the\n"
    "units attached to its port one after another, with a large PASS or FAIL,\n"
    "and the day's counts read back from the record file.\n"
    "\n"
    "  STATION-FILE  the station's settings (machine type, image, SHA-256,\n"
    "                ports, record file), opened locked; without one the\n"
    "                station is set up by hand and may be saved as one\n"
    "  --start       start every position as soon as the window is up\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

// Reads the station's command line into theStationApp: "" when it was
// taken, else the message that refuses it.
std::string TakeStationCommandLine(int argc, const char* const* argv);
