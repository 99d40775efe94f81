// The built programs as a user starts them: --help and --version of
// download-tool, how it refuses a bad command line, and what download-tool
// --demo tells a newcomer in the terminal before the window opens.
#include <signal.h>
#include <sys/stat.h>

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
    const bool started =
        station.Start({DT_DOWNLOAD_STATION_PATH, (dir.path() / "st.station").string()}, options);
    unsetenv("DT_STATION_LATENESS");
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

}  // namespace
