// The command line of every program of the download tool: its options read
// from a table, and a bad command line refused the same way in all of them.
//
// Principles of operation
// -----------------------
// A program describes each option once, as a row of a CommandLineTable made
// with the builders below, and hands ParseCommandLine its argv. The words
// are read left to right:
//
//   --name         a flag, or an option whose value is the next word
//   --name=VALUE   an option with its value in the same word (a flag given
//                  a value so is refused: "--json takes no value")
//   --             every word after it is an argument, even one that
//                  starts with a dash
//   - or WORD      an argument, handed to the table's `arguments` in order
//   -x, --other    refused: "unknown option --other"
//
// A value in the next word must not start with "--": in "--port --json"
// the port is missing ("--port needs a device path"); a value that does
// start with "--" is given as --port=--odd. No option takes an empty value.
// An option given again hands its value on again: a list option (one that
// is meant to be repeated) collects every value, any other keeps the last,
// as most command lines do.
//
// Parsing stops at the first bad word and returns one line that names the
// option: "unknown option --foo", "--type needs a machine type",
// "--timeout takes a positive number of seconds". The program adds the
// checks between options itself, then refuses with RefuseCommandLine:
// "PROGRAM: MESSAGE", a blank line and the usage on standard error, and the
// exit status kCommandLineRefused. --help and --version are not here:
// tools/options/info_options.h answers them before any parsing.
//
// Portable: no platform header; download-cli.exe uses it as it is.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The exit status of a program that refused its command line.
inline constexpr int kCommandLineRefused = 2;

// Takes one value (or argument): returns "" when taken, else the whole
// message that refuses it.
using TakeValue = std::function<std::string(const std::string& value)>;

struct CommandLineOption {
    std::string name;   // with its dashes: "--type"
    std::string needs;  // what its value is, for "--type needs a machine type"; "" a flag
    TakeValue take;     // called with the value ("" for a flag) each time it is given
};

struct CommandLineTable {
    std::vector<CommandLineOption> options;
    // Takes each argument (a word that is no option) in turn. Unset: the
    // program takes none, and one is refused as "unexpected argument WORD".
    TakeValue arguments{};
};

// Parses argv[1] to argv[argc - 1] by `table`. Returns "" when every word
// was taken, else the message refusing the first that was not.
std::string ParseCommandLine(int argc, const char* const* argv, const CommandLineTable& table);

// Says "program: message", a blank line and `usage` on standard error, and
// returns kCommandLineRefused for the program to exit with.
int RefuseCommandLine(const char* program, const std::string& message, const char* usage);

// --- Values -------------------------------------------------------------

// A whole number in decimal, from min to max: "-3", "0", "65535"; no sign
// before a positive one, no spaces, no fraction.
bool ParseInteger(const std::string& text, long long min, long long max, long long* value);
// A finite number greater than 0: "10", "0.5", "1e3".
bool ParsePositiveNumber(const std::string& text, double* value);

// --- Builders of the table's rows -----------------------------------------

// --name sets *on.
CommandLineOption FlagOption(std::string name, bool* on);
// --name VALUE, taken by `take`.
CommandLineOption ValueOption(std::string name, std::string needs, TakeValue take);
// --name TEXT stored in *text.
CommandLineOption TextOption(std::string name, std::string needs, std::string* text);
// --name TEXT, repeated: each one appended to *texts.
CommandLineOption ListOption(std::string name, std::string needs, std::vector<std::string>* texts);
// --name N, a whole number from min to max (ParseInteger), handed to set;
// else refused as "NAME takes TAKES" ("--baud takes a line rate").
CommandLineOption IntegerOption(std::string name, std::string needs, long long min, long long max,
                                std::string takes, std::function<void(long long)> set);
// The same stored in *value, whose type holds every number from min to max.
template <typename T>
CommandLineOption IntegerOption(std::string name, std::string needs, long long min, long long max,
                                std::string takes, T* value) {
    return IntegerOption(std::move(name), std::move(needs), min, max, std::move(takes),
                         [value](long long n) { *value = static_cast<T>(n); });
}
// --name X, a positive number (ParsePositiveNumber) stored in *value; else
// refused as "NAME takes TAKES".
CommandLineOption PositiveNumberOption(std::string name, std::string needs, std::string takes,
                                       double* value);
