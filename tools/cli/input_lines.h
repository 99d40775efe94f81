// Lines a test rig or a scanner's host writes to download-cli's standard
// input (--unit-ids), taken without waiting: the station goes on while
// none comes. tools/cli/posix/input_lines.cpp and
// tools/cli/win32/input_lines.cpp implement it.
#pragma once

#include <string>
#include <vector>

class InputLines {
  public:
    // The whole lines that have come since the last call (without their
    // line ends), at once. False once standard input has ended and every
    // line was handed out.
    bool Take(std::vector<std::string>& lines);

  private:
    // Splits what came into whole lines; keeps the rest for later.
    void Add(const char* bytes, std::size_t n, std::vector<std::string>& lines);

    std::string m_partial;
    bool m_ended = false;
};
