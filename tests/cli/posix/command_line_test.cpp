// The command lines of download-cli and target-sim: every bad one refused
// alike (one line naming the option, a blank line, the usage, exit status
// 2), and download-cli's options as its parser keeps them.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/cli/posix/cli_process.h"
#include "tools/cli/cli_options.h"

namespace {

struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    std::string says;  // the line after "PROGRAM: "
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

// --- download-cli --------------------------------------------------------------

const std::string kSha = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class CliRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// Its standard error holds the one line and the usage exactly as --help
// prints it, and nothing else; nothing goes to standard output. (Under Wine
// both end their lines as --help does there.)
TEST_P(CliRefusalTest, OneLineThenTheUsageAndStatus2) {
    const RefusalCase& c = GetParam();
    const auto help = RunCli({"--help"});
    ASSERT_EQ(help.exitStatus, 0);
    const std::string newline = help.out.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "download-cli: " + c.says + newline + newline + help.out);
}

// None of these gets as far as reading the image, which need not exist.
INSTANTIATE_TEST_SUITE_P(
    Arguments, CliRefusalTest,
    ::testing::Values(
        RefusalCase{
            "unknown", {"--type", "1", "--frobnicate", "a.UPL"}, "unknown option --frobnicate"},
        RefusalCase{"unknown_with_value", {"--speed=fast", "a.UPL"}, "unknown option --speed"},
        RefusalCase{"short_unknown", {"-x", "a.UPL"}, "unknown option -x"},
        RefusalCase{"type_missing_at_end", {"a.UPL", "--type"}, "--type needs a machine type"},
        RefusalCase{"type_followed_by_option",
                    {"--type", "--port", "/dev/ttyUSB0", "a.UPL"},
                    "--type needs a machine type"},
        RefusalCase{"type_out_of_range", {"--type=3", "a.UPL"}, "--type takes 0, 1 or 2, not 3"},
        RefusalCase{
            "type_not_a_digit", {"--type", "01", "a.UPL"}, "--type takes 0, 1 or 2, not 01"},
        RefusalCase{
            "port_missing", {"--type", "1", "a.UPL", "--port"}, "--port needs a device path"},
        RefusalCase{
            "port_empty", {"--type", "1", "--port=", "a.UPL"}, "--port needs a device path"},
        RefusalCase{"port_serial_empty",
                    {"--type", "1", "--port", "serial:", "a.UPL"},
                    "--port serial: needs a serial number"},
        RefusalCase{"port_location_empty",
                    {"--type", "1", "--port=location:", "a.UPL"},
                    "--port location: needs a USB location (such as 1-1.4)"},
        // The prefixes are read in any case.
        RefusalCase{"port_serial_empty_in_capitals",
                    {"--type", "1", "--port", "SERIAL:", "a.UPL"},
                    "--port SERIAL: needs a serial number"},
        RefusalCase{"port_location_empty_in_mixed_case",
                    {"--type", "1", "--port", "Location:", "a.UPL"},
                    "--port Location: needs a USB location (such as 1-1.4)"},
        RefusalCase{"timeout_zero",
                    {"--type", "1", "--timeout", "0", "a.UPL"},
                    "--timeout takes a positive number of seconds"},
        RefusalCase{"timeout_words",
                    {"--type", "1", "--timeout=ten", "a.UPL"},
                    "--timeout takes a positive number of seconds"},
        RefusalCase{
            "timeout_missing", {"--type", "1", "a.UPL", "--timeout"}, "--timeout needs seconds"},
        RefusalCase{"record_missing",
                    {"--type", "1", "--record", "--json", "a.UPL"},
                    "--record needs a file"},
        RefusalCase{
            "flag_with_value", {"--type", "1", "--json=yes", "a.UPL"}, "--json takes no value"},
        RefusalCase{"sha_missing",
                    {"--type", "1", "a.UPL", "--expect-sha256"},
                    "--expect-sha256 needs 64 hex digits"},
        RefusalCase{"sha_short",
                    {"--type", "1", "--expect-sha256", kSha.substr(1), "a.UPL"},
                    "--expect-sha256 takes 64 hex digits"},
        RefusalCase{"sha_long",
                    {"--type", "1", "--expect-sha256", kSha + "0", "a.UPL"},
                    "--expect-sha256 takes 64 hex digits"},
        RefusalCase{"sha_not_hex",
                    {"--type", "1", "--expect-sha256=" + kSha.substr(1) + "g", "a.UPL"},
                    "--expect-sha256 takes 64 hex digits"},
        RefusalCase{"sha_with_prefix",
                    {"--type", "1", "--expect-sha256", "0x" + kSha.substr(2), "a.UPL"},
                    "--expect-sha256 takes 64 hex digits"},
        RefusalCase{
            "two_images", {"--type", "1", "a.UPL", "b.UPL"}, "only one image, please: b.UPL"},
        RefusalCase{"no_image", {"--type", "1"}, "no image file given"},
        RefusalCase{"no_type", {"a.UPL"}, "--type is required"},
        RefusalCase{"parallel_one_port",
                    {"--type", "1", "--parallel", "--loop", "--port", "/dev/ttyUSB0", "a.UPL"},
                    "--parallel needs at least two --port"},
        // One port twice, however it is spelt: serial numbers in any case.
        RefusalCase{
            "port_twice",
            {"--type", "1", "--parallel", "--port", "serial:ft1", "--port", "SERIAL:FT1", "a.UPL"},
            "--port SERIAL:FT1 is given twice (first as serial:ft1)"},
        RefusalCase{
            "station_with_type",
            {"--station", "line.station", "--type", "1"},
            "--station takes its settings from the file: give it alone, with --json, --fast or "
            "--unit-ids"},
        RefusalCase{"unit_ids_without_positions",
                    {"--type", "1", "--unit-ids", "a.UPL"},
                    "--unit-ids binds IDs to fixture positions: give it with --parallel --loop or "
                    "--station"},
        RefusalCase{"fast_for_type_0",
                    {"--type", "0", "--fast", "a.EUP"},
                    "--fast is for the block protocol (types 1 and 2)"}),
    [](const auto& info) { return std::string(info.param.name); });

// download-cli's parser itself, for what it keeps of a good command line.
std::optional<CliOptions> Parse(std::vector<std::string> args, std::string* error) {
    std::vector<char*> argv{const_cast<char*>("download-cli")};
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), *error);
}

TEST(CliOptionsTest, ExpectedDigestIsKeptInLowercase) {
    std::string upper = kSha, mixed = kSha;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
        if (i % 2 == 0) {
            mixed[i] = upper[i];
        }
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--type", "1", "--expect-sha256", upper, "a.UPL"},
          std::vector<std::string>{"--type", "1", "--expect-sha256=" + mixed, "a.UPL"},
          std::vector<std::string>{"--expect-sha256", kSha, "--type", "1", "a.UPL"}}) {
        std::string error;
        const auto o = Parse(args, &error);
        ASSERT_TRUE(o.has_value()) << error;
        EXPECT_EQ(o->expectSha256, kSha);
        EXPECT_EQ(o->image, "a.UPL");
    }
    std::string error;
    const auto none = Parse({"--type", "1", "a.UPL"}, &error);
    ASSERT_TRUE(none.has_value()) << error;
    EXPECT_EQ(none->expectSha256, "") << "no digest given, none expected";
}

// Each port of --parallel --loop is a fixture position of its own; the
// ports are named by device or by adapter and kept as typed, in order.
TEST(CliOptionsTest, ParallelLoopTakesPortsNamedEveryWay) {
    std::string error;
    const auto o = Parse({"--type=2", "--parallel", "--loop", "--port", "serial:A50285BI", "--port",
                          "location:1-1.4", "--port=/dev/ttyUSB0", "--port", "COM3", "--fast",
                          "--timeout=2.5", "--record", "units.jsonl", "--", "-odd name.UPL"},
                         &error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_TRUE(o->parallel);
    EXPECT_TRUE(o->loop);
    EXPECT_TRUE(o->fast);
    EXPECT_EQ(o->type, 2);
    EXPECT_EQ(o->ports, (std::vector<std::string>{"serial:A50285BI", "location:1-1.4",
                                                  "/dev/ttyUSB0", "COM3"}));
    EXPECT_EQ(o->timeoutSeconds, 2.5);
    EXPECT_EQ(o->record, "units.jsonl");
    EXPECT_EQ(o->image, "-odd name.UPL");
}

TEST(CliOptionsTest, ListPortsNeedsNoTypeOrImage) {
    std::string error;
    const auto o = Parse({"--list-ports", "--json"}, &error);
    ASSERT_TRUE(o.has_value()) << error;
    EXPECT_TRUE(o->listPorts);
    EXPECT_TRUE(o->json);
    EXPECT_FALSE(Parse({"--list-ports", "--bogus"}, &error).has_value());
    EXPECT_EQ(error, "unknown option --bogus");
}

// --- target-sim ---------------------------------------------------------------

class SimRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SimRefusalTest, OneLineThenTheUsageAndStatus2) {
    const RefusalCase& c = GetParam();
    std::string usage;
    ChildProcess help;
    ASSERT_TRUE(help.Start({DT_TARGET_SIM_PATH, "--help"}));
    ASSERT_EQ(help.Wait(&usage, 10000), 0);

    std::vector<std::string> argv{DT_TARGET_SIM_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess sim;
    ChildProcess::Options options;
    options.err = ChildProcess::Stream::Piped();
    ASSERT_TRUE(sim.Start(argv, options));
    const ChildProcess::Exit exit = sim.Finish(std::chrono::seconds(10));
    EXPECT_FALSE(exit.killed) << "served instead of refusing";
    EXPECT_EQ(exit.status, 2);
    EXPECT_EQ(sim.Out(), "");
    EXPECT_EQ(sim.Err(), "target-sim: " + c.says + "\n\n" + usage);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, SimRefusalTest,
    ::testing::Values(
        RefusalCase{"no_type", {"--silent"}, "--type is required"},
        RefusalCase{"type_missing", {"--type"}, "--type needs a machine type"},
        RefusalCase{"type_out_of_range", {"--type", "3"}, "--type takes 0, 1 or 2"},
        RefusalCase{"unknown", {"--type", "1", "--bogus"}, "unknown option --bogus"},
        RefusalCase{"argument", {"--type", "1", "image.UPL"}, "unexpected argument image.UPL"},
        RefusalCase{"link_missing", {"--type", "1", "--link"}, "--link needs a path"},
        RefusalCase{"expect_followed_by_option",
                    {"--type", "1", "--expect", "--stored"},
                    "--expect needs a file"},
        RefusalCase{"flag_with_value", {"--type=1", "--noise=1"}, "--noise takes no value"},
        RefusalCase{"repeat_every_zero",
                    {"--type", "1", "--repeat-every", "0"},
                    "--repeat-every takes a count of at least 1"},
        RefusalCase{
            "stop_at_negative", {"--type", "1", "--stop-at=-1"}, "--stop-at takes a block number"},
        RefusalCase{"vanish_after_words",
                    {"--type", "1", "--vanish-after", "ten"},
                    "--vanish-after takes a block count"},
        RefusalCase{"baud_zero", {"--type", "1", "--baud", "0"}, "--baud takes a line rate"},
        RefusalCase{
            "baud_too_high", {"--type", "1", "--baud", "10000001"}, "--baud takes a line rate"},
        RefusalCase{"turnaround_too_long",
                    {"--type", "1", "--turnaround=60001"},
                    "--turnaround takes milliseconds"},
        RefusalCase{"turnaround_missing",
                    {"--type", "1", "--turnaround"},
                    "--turnaround needs milliseconds"}),
    [](const auto& info) { return std::string(info.param.name); });

// Values after '=' reach the machine as the next word's do: it serves.
TEST(SimOptionsTest, ValuesAfterEqualsAreTaken) {
    ChildProcess sim;
    ASSERT_TRUE(sim.Start(
        {DT_TARGET_SIM_PATH, "--type=2", "--turnaround=0", "--baud=57600", "--stop-at=3"}));
    const std::string device = sim.ReadLine(10000);
    EXPECT_TRUE(device.starts_with("/dev/")) << device;
    EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
