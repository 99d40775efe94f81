// One programmed unit: the main dialog's own logic, run without a window on
// the headless framework in real time, acting as the operator would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/cli/cli_options.h"

class CDownloadDlg;

// Exit status of download-cli, one per way a unit ends.
enum class UnitResult : int {
    Done = 0,
    NoMachine = 3,  // never answered
    Stopped = 4,    // stopped by the machine
    Silent = 5,     // answered, then fell silent
    PortLost = 6,
};

struct UnitOutcome {
    UnitResult result = UnitResult::NoMachine;
    std::string reason;  // in plain words
    std::string port;    // where the machine answered, if it did
    std::uint32_t sent = 0, total = 0;
    std::uint32_t repeats = 0;
    double seconds = 0;
};

const char* ResultName(UnitResult r);

// What a unit tells as it goes: the front end prints it.
struct UnitEvents {
    std::function<void(const std::string& port, const std::string& what,
                       const std::string& reason)>
        portTried;  // what: "open failed", "opened", "no answer"
    std::function<void(const std::string& port)> connected;
    std::function<void(std::uint32_t sent, std::uint32_t total)> progress;
};

class UnitRunner {
  public:
    explicit UnitRunner(const CliOptions& options);
    ~UnitRunner();

    // Makes the dialog, selects the machine type and loads the image. False,
    // with the reason, when the image cannot be read.
    bool Prepare(std::string& error);
    // Programs one unit: Program, then the scan and the download, until one
    // of the outcomes. Every wait is bounded.
    UnitOutcome Run(const UnitEvents& events);

    std::uint32_t ImageLength() const;

  private:
    bool LoadImage(std::string& error);

    const CliOptions& m_options;
    std::unique_ptr<CDownloadDlg> m_dlg;
};
