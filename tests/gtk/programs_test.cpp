// The built programs as a user starts them: --help and --version of
// download-tool, how it refuses a bad command line, what download-tool
// --demo tells a newcomer in the terminal before the window opens, and
// download-station --set-password from a pipe and from a terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dt_version.h"
#include "station/password.h"
#include "station/station_file.h"
#include "tests/posix/posix_support.h"
#include "tests/test_data.h"
#include "tools/launch/posix/child_process.h"

namespace {

// Runs a program to its end; returns its exit status and what it printed.
int RunToEnd(const std::vector<std::string>& argv, std::string* out) {
    ChildProcess child;
    if (!child.Start(argv)) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return -1;
    }
    return child.Wait(out, 10000);
}

// target-sim's, which needs no display, are tested with download-cli's.
TEST(InfoOptions, HelpAndVersionPrintOnStandardOutputAndExit0) {
    std::string out;
    EXPECT_EQ(RunToEnd({DT_DOWNLOAD_TOOL_PATH, "--help"}, &out), 0);
    EXPECT_TRUE(out.starts_with("usage: download-tool ")) << out;
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n') << "the usage ends its last line";
    EXPECT_NE(out.find("--version"), std::string::npos);

    EXPECT_EQ(RunToEnd({DT_DOWNLOAD_TOOL_PATH, "--version"}, &out), 0);
    EXPECT_EQ(out, std::string("download-tool ") + DT_VERSION + "\n");
}

// A bad command line is refused as every program of the tool refuses one:
// one line naming the option, a blank line and the usage on standard error,
// exit status 2, and no window. GTK may have warned of its own matters
// before; the refusal ends standard error.
TEST(CommandLineTest, BadOptionsAreRefusedWithTheUsageAndStatus2) {
    std::string usage;
    ASSERT_EQ(RunToEnd({DT_DOWNLOAD_TOOL_PATH, "--help"}, &usage), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port"}, "--port needs a device path"},
        {{"--port", "--demo"}, "--port needs a device path"},
        {{"--port="}, "--port needs a device path"},
        {{"--demo=yes"}, "--demo takes no value"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--port=/dev/ttyS0", "--bogus=1"}, "unknown option --bogus"},
        {{"--demo", "demo.EUP"}, "unexpected argument demo.EUP"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(says);
        std::vector<std::string> argv{DT_DOWNLOAD_TOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess tool;
        ChildProcess::Options options;
        options.err = ChildProcess::Stream::Piped();
        ASSERT_TRUE(tool.Start(argv, options));
        const ChildProcess::Exit exit = tool.Finish(std::chrono::seconds(10));
        EXPECT_FALSE(exit.killed) << "started instead of refusing";
        EXPECT_EQ(exit.status, 2);
        EXPECT_EQ(tool.Out(), "");
        EXPECT_TRUE(tool.Err().ends_with("download-tool: " + says + "\n\n" + usage)) << tool.Err();
    }
}

// The demo names the simulated machine's port and the three steps, then
// waits in its window until told to end.
TEST(DemoTest, TellsWhatToDoNextInTheTerminal) {
    ChildProcess tool;
    ASSERT_TRUE(tool.Start({DT_DOWNLOAD_TOOL_PATH, "--demo"}));
    const std::string waits = tool.ReadLine(10000);
    EXPECT_TRUE(waits.starts_with("download-tool: a simulated Lorvane 300 waits on /dev/"))
        << waits;
    const std::string next = tool.ReadLine(5000);
    EXPECT_NE(next.find("Load File"), std::string::npos) << next;
    EXPECT_NE(next.find("demo.EUP"), std::string::npos) << next;
    const std::string then = tool.ReadLine(5000);
    EXPECT_NE((next + then).find("Program"), std::string::npos) << then;
    EXPECT_TRUE(tool.Running());
    EXPECT_EQ(tool.Stop(), 0) << "ended as Cancel ends it";
}

// A FIFO named as the record file, with nothing reading it: the station
// window does not wait on it - it comes up, says the record file cannot be
// used - and SIGTERM ends it at once. (Opened as a file, the FIFO would hold
// the program in open() before its window, deaf to SIGTERM.)
TEST(StationProgramTest, AFifoRecordFileIsRefusedAndSigtermEndsTheWindow) {
    TempDir dir{"station-fifo"};
    dir.Write("a.UPL", Pattern(300));
    ASSERT_EQ(mkfifo((dir.path() / "units.jsonl").c_str(), 0600), 0);
    std::ofstream(dir.path() / "st.station")
        << "type = 1\nimage = a.UPL\nrecord = units.jsonl\nport = /dev/null\n";
    const std::string lateness = (dir.path() / "lateness.json").string();

    ChildProcess station;
    ChildProcess::Options options;
    options.err = ChildProcess::Stream::Piped();
    options.defaultSignals = true;
    setenv("DT_STATION_LATENESS", lateness.c_str(), 1);
    // No accessibility bridge: its bus connection is kept for the life of
    // the process, which the leak checker of a sanitized build would take
    // for a leak of ours.
    setenv("NO_AT_BRIDGE", "1", 1);
    const bool started =
        station.Start({DT_DOWNLOAD_STATION_PATH, (dir.path() / "st.station").string()}, options);
    unsetenv("DT_STATION_LATENESS");
    unsetenv("NO_AT_BRIDGE");
    ASSERT_TRUE(started);
    // Its window's timer has run once it writes the lateness file at its
    // end; give it time to come up first.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    station.Signal(SIGTERM);
    const ChildProcess::Exit exit = station.Finish(std::chrono::seconds(3));
    EXPECT_FALSE(exit.killed) << "SIGTERM did not end it";
    EXPECT_EQ(exit.signal, 0);
    std::ifstream written(lateness);
    const std::string figures(std::istreambuf_iterator<char>(written), {});
    EXPECT_TRUE(figures.starts_with("{\"ticks\":"))
        << "the window never came up: " << station.Err();
    EXPECT_EQ(figures.find("{\"ticks\":0,"), std::string::npos) << figures;
}

// download-station --set-password FILE with standard input from a file:
// its exit status, with what it said on standard output and error.
struct SetPasswordRun {
    int status = -1;
    std::string out, err;
};

SetPasswordRun SetPassword(const std::vector<std::string>& args, const std::string& input,
                           const TempDir& dir) {
    const std::string typed = (dir.path() / "typed.txt").string();
    std::ofstream(typed, std::ios::binary) << input;
    std::vector<std::string> argv{DT_DOWNLOAD_STATION_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess station;
    ChildProcess::Options options;
    options.in = ChildProcess::Stream::File(typed, O_RDONLY);
    options.err = ChildProcess::Stream::Piped();
    SetPasswordRun run;
    if (!station.Start(argv, options)) {
        ADD_FAILURE() << "cannot start download-station";
        return run;
    }
    const ChildProcess::Exit exit = station.Finish(std::chrono::seconds(30));
    EXPECT_FALSE(exit.killed);
    run.status = exit.status;
    run.out = station.Out();
    run.err = station.Err();
    return run;
}

// The file's password hash checks password, and no other.
void ExpectHashChecks(const std::string& path, const std::string& password) {
    StationSettings read;
    std::string error;
    ASSERT_TRUE(ReadStationFile(path, read, error)) << error;
    PasswordHash hash;
    ASSERT_TRUE(ParsePasswordHash(read.password, hash, error)) << read.password << ": " << error;
    EXPECT_EQ(hash.iterations, kPasswordIterations);
    EXPECT_EQ(CheckPassword(password, hash, error), PasswordCheck::Right) << error;
    EXPECT_EQ(CheckPassword(password + "x", hash, error), PasswordCheck::Wrong) << error;
}

std::string ContentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Fed from a file, as a script feeds it: two lines that agree set the
// password; anything else changes nothing and says why. No display is
// needed for it.
TEST(StationProgramTest, SetPasswordFromStandardInputWritesAHashThatChecks) {
    TempDir dir{"station-password"};
    const std::string path = (dir.path() / "st.station").string();
    const std::string before = "# Line 3\ntype = 1\nimage = a.UPL\nport = /dev/ttyUSB3\n";
    std::ofstream(path) << before;

    struct Refusal {
        std::string input;
        std::string says;
    };
    const Refusal refusals[] = {
        {"one\ntwo\n", "download-station: the two passwords differ; " + path + " is unchanged\n"},
        {"\n\n", "download-station: an empty password is refused; " + path + " is unchanged\n"},
        {"", "download-station: reading the password: the input ended before a password; " + path +
                 " is unchanged\n"},
        {"once\n",
         "download-station: reading the password again: the input ended before a "
         "password; " +
             path + " is unchanged\n"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.input);
        const SetPasswordRun run = SetPassword({"--set-password", path}, r.input, dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, r.says);
        EXPECT_EQ(ContentsOf(path), before);
    }

    // A station file to open besides is refused as a bad command line.
    const SetPasswordRun both = SetPassword({"--set-password", path, path}, "a\na\n", dir);
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("--set-password opens no window"), std::string::npos) << both.err;

    // No display is needed: the child starts without ours.
    const char* display = std::getenv("DISPLAY");
    const std::string ours = display ? display : "";
    unsetenv("DISPLAY");
    const SetPasswordRun set = SetPassword(
        {"--set-password", path}, "Sup3r-Secret \xC3\xA9\r\nSup3r-Secret \xC3\xA9\r\n", dir);
    if (display != nullptr) {
        setenv("DISPLAY", ours.c_str(), 1);
    }
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "download-station: the supervisor password of " + path + " is set\n");
    ExpectHashChecks(path, "Sup3r-Secret \xC3\xA9");
    const std::string after = ContentsOf(path);
    EXPECT_NE(after.find("\nimage = a.UPL\n"), std::string::npos) << "its name kept as written";
    EXPECT_EQ(after.find("Sup3r"), std::string::npos);
}

// From a terminal: each password after its prompt, never echoed, and the
// terminal's echo back as it was afterwards.
TEST(StationProgramTest, SetPasswordFromATerminalEchoesNothing) {
    TempDir dir{"station-password-tty"};
    const std::string path = (dir.path() / "st.station").string();
    std::ofstream(path) << "type = 1\nimage = a.UPL\nport = /dev/ttyUSB3\n";
    PtyPair terminal;
    ASSERT_NE(terminal.Settings().c_lflag & ECHO, 0u) << "a terminal echoes to begin with";

    ChildProcess station;
    ChildProcess::Options options;
    options.in = ChildProcess::Stream::Shared(terminal.Slave());
    options.err = ChildProcess::Stream::Piped();
    ASSERT_TRUE(station.Start({DT_DOWNLOAD_STATION_PATH, "--set-password", path}, options));
    auto promptCame = [&](const std::string& prompt) {
        const auto until = ChildProcess::Clock::now() + std::chrono::seconds(10);
        while (station.Err().find(prompt) == std::string::npos &&
               ChildProcess::Clock::now() < until) {
            station.Pump(until);
        }
        return station.Err().find(prompt) != std::string::npos;
    };
    ASSERT_TRUE(promptCame("New supervisor password: ")) << station.Err();
    EXPECT_EQ(terminal.Settings().c_lflag & ECHO, 0u) << "no echo while it is typed";
    const std::string line = "Sup3r-Secret\n";
    terminal.Send(Bytes(line.begin(), line.end()));
    ASSERT_TRUE(promptCame("The same password again: ")) << station.Err();
    terminal.Send(Bytes(line.begin(), line.end()));
    const ChildProcess::Exit exit = station.Finish(std::chrono::seconds(30));
    EXPECT_EQ(exit.status, 0) << station.Err();
    EXPECT_NE(terminal.Settings().c_lflag & ECHO, 0u) << "the echo is back";

    // All the terminal showed while it ran: never the password.
    const Bytes shown = terminal.Receive(1 << 16, std::chrono::milliseconds(0));
    EXPECT_EQ(std::string(shown.begin(), shown.end()).find("Sup3r"), std::string::npos);
    ExpectHashChecks(path, "Sup3r-Secret");
}

}  // namespace
