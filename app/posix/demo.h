// The demo of download-tool --demo: a simulated Lorvane 300 (target-sim,
// started from beside the program) on a pseudo-terminal, and a sample
// image for it, demo.EUP, in a folder of its own. When the demo goes, the
// simulator is stopped, says whether it received the image intact, and
// the folder is removed.
#pragma once

#include <filesystem>
#include <string>

#include "tools/launch/posix/child_process.h"

// Not copied: it owns the simulator's process (ChildProcess is not
// copyable either).
class Demo {
  public:
    ~Demo();

    // Returns the port the simulator serves, or an empty string (the
    // reason said on standard error).
    std::string Start();
    // The folder the sample image waits in.
    const std::filesystem::path& Folder() const { return m_dir; }

  private:
    std::filesystem::path m_dir;
    ChildProcess m_sim;
};
