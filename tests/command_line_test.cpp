// Reading options from a table (tools/options/command_line.h): values in the next
// word or after '=', repeats, numbers and their ranges, missing values,
// arguments, and the one message that refuses a bad word.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/options/command_line.h"

namespace {

// What a small program of every kind of option ended with.
struct Parsed {
    bool flag = false;
    std::string name;
    std::vector<std::string> ports;
    int count = -1;
    double seconds = 10;
    std::vector<std::string> arguments;
};

std::string Join(const std::vector<std::string>& words) {
    std::string all;
    for (const std::string& w : words) {
        all += (all.empty() ? "" : ",") + w;
    }
    return all;
}

std::string Describe(const Parsed& p) {
    std::ostringstream s;
    s << "flag=" << p.flag << " name=" << p.name << " ports=" << Join(p.ports)
      << " count=" << p.count << " seconds=" << p.seconds << " args=" << Join(p.arguments);
    return s.str();
}

// Parses `words` (the program's name first) by the small program's table;
// `takesArguments` false leaves its argument handler unset.
std::string Parse(const std::vector<std::string>& words, Parsed* p, bool takesArguments = true) {
    CommandLineTable table{{
        FlagOption("--flag", &p->flag),
        TextOption("--name", "a name", &p->name),
        ListOption("--port", "a device path", &p->ports),
        IntegerOption("--count", "a count", 1, 5, "a count from 1 to 5", &p->count),
        PositiveNumberOption("--seconds", "seconds", "a positive number of seconds", &p->seconds),
    }};
    if (takesArguments) {
        table.arguments = [p](const std::string& word) -> std::string {
            if (word == "refused") {
                return "no such argument: " + word;
            }
            p->arguments.push_back(word);
            return {};
        };
    }
    std::vector<const char*> argv{"program"};
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), table);
}

struct ParseCase {
    const char* name;
    std::vector<std::string> words;
    std::string says;     // "" when taken
    std::string outcome;  // Describe() afterwards, when taken
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineTest, TakesOrRefusesWithOneMessage) {
    const ParseCase& c = GetParam();
    Parsed p;
    EXPECT_EQ(Parse(c.words, &p), c.says);
    if (c.says.empty()) {
        EXPECT_EQ(Describe(p), c.outcome);
    }
}

const std::string kUntouched = Describe(Parsed{});

INSTANTIATE_TEST_SUITE_P(
    Taken, CommandLineTest,
    ::testing::Values(ParseCase{"nothing", {}, "", kUntouched},
                      ParseCase{"value_in_the_next_word",
                                {"--name", "x", "--count", "3"},
                                "",
                                "flag=0 name=x ports= count=3 seconds=10 args="},
                      ParseCase{"value_after_equals",
                                {"--name=x", "--count=5", "--seconds=0.25"},
                                "",
                                "flag=0 name=x ports= count=5 seconds=0.25 args="},
                      // Only the first '=' parts name and value.
                      ParseCase{"equals_in_the_value",
                                {"--name=a=b"},
                                "",
                                "flag=0 name=a=b ports= count=-1 seconds=10 args="},
                      ParseCase{"odd_value_after_equals",
                                {"--name=--flag"},
                                "",
                                "flag=0 name=--flag ports= count=-1 seconds=10 args="},
                      ParseCase{"single_dash_is_a_value",
                                {"--name", "-"},
                                "",
                                "flag=0 name=- ports= count=-1 seconds=10 args="},
                      ParseCase{"repeated_list_keeps_each_in_order",
                                {"--port", "b", "--port=a", "--port", "b"},
                                "",
                                "flag=0 name= ports=b,a,b count=-1 seconds=10 args="},
                      ParseCase{"repeated_single_keeps_the_last",
                                {"--count", "2", "--count=4", "--flag", "--flag"},
                                "",
                                "flag=1 name= ports= count=4 seconds=10 args="},
                      ParseCase{"arguments_between_options",
                                {"one", "--flag", "-", "two"},
                                "",
                                "flag=1 name= ports= count=-1 seconds=10 args=one,-,two"},
                      ParseCase{"double_dash_ends_the_options",
                                {"--flag", "--", "--name", "-x", "--"},
                                "",
                                "flag=1 name= ports= count=-1 seconds=10 args=--name,-x,--"},
                      ParseCase{"range_ends_taken",
                                {"--count", "1", "--seconds", "1e3"},
                                "",
                                "flag=0 name= ports= count=1 seconds=1000 args="}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Refused, CommandLineTest,
    ::testing::Values(
        ParseCase{"unknown_long", {"--bogus"}, "unknown option --bogus", ""},
        ParseCase{"unknown_named_without_its_value", {"--bogus=1"}, "unknown option --bogus", ""},
        ParseCase{"unknown_short", {"-x"}, "unknown option -x", ""},
        ParseCase{"prefix_is_no_abbreviation", {"--na", "x"}, "unknown option --na", ""},
        ParseCase{"missing_value_at_the_end", {"--name"}, "--name needs a name", ""},
        ParseCase{"next_word_is_an_option", {"--port", "--flag"}, "--port needs a device path", ""},
        ParseCase{"next_word_ends_the_options", {"--port", "--"}, "--port needs a device path", ""},
        ParseCase{"empty_after_equals", {"--port="}, "--port needs a device path", ""},
        ParseCase{"empty_next_word", {"--name", ""}, "--name needs a name", ""},
        ParseCase{"flag_given_a_value", {"--flag=yes"}, "--flag takes no value", ""},
        ParseCase{"count_below", {"--count", "0"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_above", {"--count=6"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_overflows",
                  {"--count", "99999999999999999999"},
                  "--count takes a count from 1 to 5",
                  ""},
        ParseCase{
            "count_with_a_fraction", {"--count", "2.0"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_with_a_sign", {"--count", "+2"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_with_a_space", {"--count", " 2"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_in_hex", {"--count", "0x2"}, "--count takes a count from 1 to 5", ""},
        ParseCase{"count_negative", {"--count", "-1"}, "--count takes a count from 1 to 5", ""},
        ParseCase{
            "seconds_zero", {"--seconds", "0"}, "--seconds takes a positive number of seconds", ""},
        ParseCase{"seconds_negative",
                  {"--seconds=-2"},
                  "--seconds takes a positive number of seconds",
                  ""},
        ParseCase{"seconds_not_a_number",
                  {"--seconds", "nan"},
                  "--seconds takes a positive number of seconds",
                  ""},
        ParseCase{"seconds_infinite",
                  {"--seconds", "inf"},
                  "--seconds takes a positive number of seconds",
                  ""},
        ParseCase{"seconds_beyond_double",
                  {"--seconds", "1e999"},
                  "--seconds takes a positive number of seconds",
                  ""},
        ParseCase{"seconds_with_a_unit",
                  {"--seconds", "5s"},
                  "--seconds takes a positive number of seconds",
                  ""},
        ParseCase{
            "argument_refused_by_its_handler", {"one", "refused"}, "no such argument: refused", ""},
        // The first bad word is the one named.
        ParseCase{"first_bad_word_named",
                  {"--count", "9", "--bogus"},
                  "--count takes a count from 1 to 5",
                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineArgumentsTest, AProgramWithoutArgumentsRefusesOne) {
    Parsed p;
    EXPECT_EQ(Parse({"--flag", "image.EUP"}, &p, false), "unexpected argument image.EUP");
    EXPECT_EQ(Parse({"--", "--flag"}, &p, false), "unexpected argument --flag");
    EXPECT_EQ(Parse({"--flag"}, &p, false), "");
    EXPECT_TRUE(p.flag);
}

// A refused number leaves what the option held before.
TEST(CommandLineNumbersTest, RefusedNumberChangesNothing) {
    Parsed p;
    EXPECT_EQ(Parse({"--count", "3", "--seconds", "2"}, &p), "");
    EXPECT_EQ(Parse({"--count", "7"}, &p), "--count takes a count from 1 to 5");
    EXPECT_EQ(p.count, 3);
    EXPECT_EQ(Parse({"--seconds", "-1"}, &p), "--seconds takes a positive number of seconds");
    EXPECT_EQ(p.seconds, 2);
}

TEST(CommandLineNumbersTest, IntegerRangeReachesTheTypesEnds) {
    long long n = 0;
    EXPECT_TRUE(ParseInteger("-9223372036854775808", INT64_MIN, INT64_MAX, &n));
    EXPECT_EQ(n, INT64_MIN);
    EXPECT_TRUE(ParseInteger("9223372036854775807", INT64_MIN, INT64_MAX, &n));
    EXPECT_EQ(n, INT64_MAX);
    EXPECT_FALSE(ParseInteger("9223372036854775808", INT64_MIN, INT64_MAX, &n));
    EXPECT_FALSE(ParseInteger("", 0, 10, &n));
    EXPECT_FALSE(ParseInteger("-", 0, 10, &n));
    EXPECT_EQ(n, INT64_MAX);
}

}  // namespace
