// The built programs as a user starts them: --help and --version of
// download-tool and target-sim, and what download-tool --demo tells a
// newcomer in the terminal before the window opens.
#include <gtest/gtest.h>

#include <string>

#include "dt_version.h"
#include "tools/target_sim/posix/child_process.h"

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

struct InfoCase {
    const char* program;
    const char* usageStart;
};

class InfoOptions : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoOptions, HelpAndVersionPrintOnStandardOutputAndExit0) {
    const InfoCase& c = GetParam();
    std::string out;
    EXPECT_EQ(RunToEnd({c.program, "--help"}, &out), 0);
    EXPECT_EQ(out.rfind(c.usageStart, 0), 0u) << out;
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n') << "the usage ends its last line";
    EXPECT_NE(out.find("--version"), std::string::npos);

    EXPECT_EQ(RunToEnd({c.program, "--version"}, &out), 0);
    const std::string name = std::string(c.program).substr(std::string(c.program).rfind('/') + 1);
    EXPECT_EQ(out, name + " " + DT_VERSION + "\n");
}

INSTANTIATE_TEST_SUITE_P(Programs, InfoOptions,
                         ::testing::Values(InfoCase{DT_DOWNLOAD_TOOL_PATH, "usage: download-tool "},
                                           InfoCase{DT_TARGET_SIM_PATH, "usage: target-sim "}));

// The demo names the simulated machine's port and the three steps, then
// waits in its window until told to end.
TEST(DemoTest, TellsWhatToDoNextInTheTerminal) {
    ChildProcess tool;
    ASSERT_TRUE(tool.Start({DT_DOWNLOAD_TOOL_PATH, "--demo"}));
    const std::string waits = tool.ReadLine(10000);
    EXPECT_EQ(waits.rfind("download-tool: a simulated Lorvane 300 waits on /dev/", 0), 0u) << waits;
    const std::string next = tool.ReadLine(5000);
    EXPECT_NE(next.find("Load File"), std::string::npos) << next;
    EXPECT_NE(next.find("demo.EUP"), std::string::npos) << next;
    const std::string then = tool.ReadLine(5000);
    EXPECT_NE((next + then).find("Program"), std::string::npos) << then;
    EXPECT_TRUE(tool.Running());
    EXPECT_EQ(tool.Stop(), 0) << "ended as Cancel ends it";
}

}  // namespace
