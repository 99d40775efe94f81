// Test data shared by every test program: images and the texts they yield.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/resource.h"

using Bytes = std::vector<std::uint8_t>;

// n pseudo-random bytes, the same for the same seed.
Bytes Pattern(std::size_t n, unsigned seed = 1);
// A path in the temporary folder that no other test, test process or
// build uses at the same time: `stem` (slashes made underscores), a random
// number, then `suffix` (say, a file name's ending).
std::filesystem::path UniqueTempPath(std::string stem, const std::string& suffix = "");
// Writes `bytes` to the file at `path`, replacing what was there.
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);

// A folder of the running test's own, made in the temporary folder and
// removed with all it holds when the TempDir goes. Its name is `stem`, the
// test's name and a random number: ctest runs tests, and builds run test
// programs, side by side.
class TempDir {
  public:
    explicit TempDir(const std::string& stem);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes `bytes` to the file `name` in the folder. Returns its path.
    std::filesystem::path Write(const std::string& name, const Bytes& bytes) const;

  private:
    std::filesystem::path m_path;
};
// The status line's progress text for a percentage.
std::string ProgressText(unsigned percent);

// The main dialog as it opens, the same under every backend: each
// control's text and whether it takes input.
struct ControlAtStart {
    int id;
    const char* text;
    bool enabled;
};
inline constexpr ControlAtStart kControlsAtStart[] = {
    {IDC_MACHINE_TYPE, "Lorvane 300", false},
    {IDC_LOAD_FILE, "Load File", true},
    {IDC_PROGRAM, "Program", false},
    {IDC_EXIT, "Exit", true},
    {IDC_LENGTH, "0", false},
    {IDC_SEND_LENGTH, "0", false},
    {IDC_STATUS, "Idle", true},
};
