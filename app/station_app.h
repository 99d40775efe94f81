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
    // --set-password: the station file to write a supervisor password
    // into, with no window; empty: none.
    void SetPasswordFile(std::string path) { m_passwordFile = std::move(path); }
    const std::string& PasswordFile() const { return m_passwordFile; }
    // 0, or 1 when the station file could not be read.
    int ExitCode() const { return m_exitCode; }

  private:
    std::string m_path;
    std::string m_passwordFile;
    bool m_start = false;
    int m_exitCode = 0;
};

extern CStationApp theStationApp;

inline constexpr char kStationUsage[] =
    "usage: download-station [--start] [STATION-FILE]\n"
    "       download-station --set-password STATION-FILE\n"
    "\n"
    "The station window: one panel per fixture position, each programming the\n"
    "units attached to its port one after another, with a large PASS or FAIL,\n"
    "and the day's counts read back from the record file.\n"
    "\n"
    "  STATION-FILE  the station's settings (machine type, image, SHA-256,\n"
    "                ports, record file), opened locked; without one the\n"
    "                station is set up by hand and may be saved as one\n"
    "  --start       start every position as soon as the window is up\n"
    "  --set-password STATION-FILE\n"
    "                write a supervisor password into the station file, as a\n"
    "                salted hash, and open no window: unlocking the settings\n"
    "                then asks for it. The password is read twice from the\n"
    "                terminal without being shown, or as two lines of\n"
    "                standard input when that is not a terminal\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

// Reads the station's command line into theStationApp: "" when it was
// taken, else the message that refuses it.
std::string TakeStationCommandLine(int argc, const char* const* argv);

// Whether the command line asks for --set-password, which opens no window:
// a front end answers it before it sets up its windows (GTK needs no
// display for it).
bool AsksToSetPassword(int argc, const char* const* argv);

// download-station --set-password FILE: reads the station file, reads the
// new password twice (app/password_input.h), refusing an empty one or two
// that differ, and writes its hash (station/password.h) into the file,
// which keeps every other setting. Says how it went, and returns the exit
// status: 0 when the password is set, 1 when nothing was changed.
int SetStationPassword(const std::string& path);
