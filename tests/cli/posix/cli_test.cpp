// download-cli, the built program, against target-sim child processes on
// pseudo-terminals: its exit statuses, what it prints (plain lines and
// --json), the --record file, --loop and --parallel.
//
// Standard output is a pipe here, never a terminal, so the tool prints its
// progress as plain lines rather than a bar redrawn in place.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "image/machine_types.h"
#include "image/unscramble.h"
#include "tests/cli/posix/cli_process.h"
#include "tests/posix/posix_support.h"

namespace {

constexpr char kMissing[] = "/nonexistent/ttyX";

// --- The flat JSON objects the tool writes ---------------------------------------------

struct JsonValue {
    std::string text;  // a string's contents, unescaped; else the literal as written
    bool isString = false;
};
using JsonObject = std::map<std::string, JsonValue>;

// Reads one object whose values are strings, numbers, true, false or null,
// with nothing before or after it but blanks.
class FlatJsonReader {
  public:
    explicit FlatJsonReader(const std::string& text) : m_s(text) {}

    std::optional<JsonObject> Object() {
        JsonObject object;
        Blanks();
        if (!Take('{')) {
            return std::nullopt;
        }
        Blanks();
        if (!Take('}')) {
            do {
                Blanks();
                std::string key;
                JsonValue value;
                if (!String(key)) {
                    return std::nullopt;
                }
                Blanks();
                if (!Take(':')) {
                    return std::nullopt;
                }
                Blanks();
                value.isString = Peek() == '"';
                if (!(value.isString ? String(value.text) : Literal(value.text))) {
                    return std::nullopt;
                }
                if (!object.emplace(key, value).second) {
                    return std::nullopt;  // the same key twice
                }
                Blanks();
            } while (Take(','));
            if (!Take('}')) {
                return std::nullopt;
            }
        }
        Blanks();
        if (m_i != m_s.size()) {
            return std::nullopt;
        }
        return object;
    }

  private:
    char Peek() const { return m_i < m_s.size() ? m_s[m_i] : '\0'; }
    bool Take(char c) {
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    void Blanks() {
        while (m_i < m_s.size() && std::strchr(" \t\r\n", m_s[m_i]) != nullptr) {
            ++m_i;
        }
    }

    bool String(std::string& out) {
        if (!Take('"')) {
            return false;
        }
        while (m_i < m_s.size()) {
            const char c = m_s[m_i++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;  // control characters must be escaped
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            ++m_i;
            static const std::map<char, char> simple = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},
                                                        {'b', '\b'}, {'f', '\f'},  {'n', '\n'},
                                                        {'r', '\r'}, {'t', '\t'}};
            if (const auto it = simple.find(e); it != simple.end()) {
                out += it->second;
            } else if (e == 'u' && m_i + 4 <= m_s.size() &&
                       std::all_of(m_s.begin() + static_cast<std::ptrdiff_t>(m_i),
                                   m_s.begin() + static_cast<std::ptrdiff_t>(m_i + 4), [](char h) {
                                       return std::isxdigit(static_cast<unsigned char>(h));
                                   })) {
                const unsigned code =
                    static_cast<unsigned>(std::stoul(m_s.substr(m_i, 4), nullptr, 16));
                out += code < 0x80 ? static_cast<char>(code) : '?';
                m_i += 4;
            } else {
                return false;
            }
        }
        return false;
    }

    bool Literal(std::string& out) {
        static const std::regex literal(
            R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?|true|false|null)");
        std::smatch m;
        const std::string rest = m_s.substr(m_i);
        if (!std::regex_search(rest, m, literal, std::regex_constants::match_continuous)) {
            return false;
        }
        out = m.str(0);
        m_i += out.size();
        return true;
    }

    const std::string& m_s;
    std::size_t m_i = 0;
};

std::optional<JsonObject> ParseJsonLine(const std::string& line) {
    return FlatJsonReader(line).Object();
}

// A field's text, or a marker that cannot be mistaken for a value.
std::string Field(const JsonObject& object, const std::string& key) {
    const auto it = object.find(key);
    return it == object.end() ? "<no " + key + ">" : it->second.text;
}

// --- Looking at what the tool printed ------------------------------------------------

std::string Describe(const CliProcess::Result& r) {
    std::ostringstream s;
    s << "exit status " << r.exitStatus << ", signal " << r.signal
      << (r.overdue ? ", killed at the time limit" : "") << "\n--- stdout:\n"
      << r.out << "--- stderr:\n"
      << r.err;
    return s.str();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t CountLines(const std::string& text, const std::function<bool(const std::string&)>& is) {
    const std::vector<std::string> lines = Lines(text);
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), is));
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- The fixture: a folder of its own for images and records --------------------------

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = std::filesystem::temp_directory_path() /
              ("cli_tests_" + std::to_string(getpid()) + "_" + name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string WriteFile(const std::string& name, const Bytes& contents) {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()),
                   static_cast<std::streamsize>(contents.size()));
        return path.string();
    }

    // The image as the machine type's files hold it: types 1 and 2 unscramble
    // their files on load, so those hold the scrambled bytes.
    std::string WriteImageFile(MachineType type, const Bytes& image) {
        Bytes stored = image;
        if (kMachineTypes[type].unscrambleOnLoad) {
            Scramble(stored.data(), stored.size());
        }
        return WriteFile(type == 0 ? "image.EUP" : "image.UPL", stored);
    }

    // target-sim's options for a machine of `type` that checks what it
    // receives against `image`, with further options after.
    std::vector<std::string> SimArgs(MachineType type, const Bytes& image,
                                     const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"--type", std::to_string(type), "--expect",
                                      WriteFile("expected.bin", image)};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    std::filesystem::path dir;
};

void ExpectWholeImage(SimProcess& sim) {
    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_TRUE(Contains(outcome.lastLine, "finished; matches the expected image"))
        << outcome.lastLine;
    EXPECT_EQ(outcome.exitStatus, 0);
}

// --- Whole downloads -------------------------------------------------------------------

class WholeDownloadTest : public CliTest, public ::testing::WithParamInterface<int> {};

// Exit status 0, and on a pipe one progress line per tenth, 0 % to 100 %.
TEST_P(WholeDownloadTest, ProgramsTheMachineAndTellsEachTenth) {
    const auto type = static_cast<MachineType>(GetParam());
    const Bytes image = Pattern(3000, type + 5);
    SimProcess sim(SimArgs(type, image));
    ASSERT_TRUE(sim.Started());

    const auto r =
        RunCli({"--type", std::to_string(type), "--port", sim.Path(), WriteImageFile(type, image)});
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Contains(r.out, "\r")) << "a bar drawn on a pipe";

    static const std::regex tenthLine(R"((\d+)%: (\d+) of 3000 bytes)");
    std::vector<int> tenths;
    std::string last;
    for (const std::string& line : Lines(r.out)) {
        std::smatch m;
        if (std::regex_match(line, m, tenthLine)) {
            tenths.push_back(std::stoi(m.str(1)));
            last = line;
        }
    }
    EXPECT_EQ(tenths, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100})) << r.out;
    EXPECT_EQ(last, "100%: 3000 of 3000 bytes");
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return StartsWith(l, sim.Path() + ": done, 3000 of 3000 bytes in ") &&
                                    EndsWith(l, "(the whole image was sent)");
                         }),
              1u)
        << r.out;
    ExpectWholeImage(sim);
}

INSTANTIATE_TEST_SUITE_P(EachMachineType, WholeDownloadTest, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return "type" + std::to_string(info.param); });

// --- A machine that misbehaves -----------------------------------------------------------

struct FaultCase {
    const char* name;
    std::vector<std::string> simFaults;
    std::vector<std::string> cliOptions;
    int exitStatus;
    const char* result;       // the result line: "<port>: <result>, ... (<reason>)"
    const char* reason;       // in plain words
    const char* machineSays;  // in target-sim's outcome line
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultTest : public CliTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, EndsWithItsOwnExitStatusAndReason) {
    const FaultCase& c = GetParam();
    const Bytes image = Pattern(3000, 2);
    SimProcess sim(SimArgs(1, image, c.simFaults));
    ASSERT_TRUE(sim.Started());

    std::vector<std::string> args{"--type", "1", "--port", sim.Path()};
    args.insert(args.end(), c.cliOptions.begin(), c.cliOptions.end());
    args.push_back(WriteImageFile(1, image));
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return StartsWith(l, sim.Path() + ": " + c.result + ", ") &&
                                    EndsWith(l, std::string(" (") + c.reason + ")");
                         }),
              1u)
        << r.out;

    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_TRUE(Contains(outcome.lastLine, c.machineSays)) << outcome.lastLine;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(FaultCase{"stop_frame",
                                {"--stop-at", "3"},
                                {},
                                4,
                                "stopped",
                                "the machine sent the stop frame",
                                "stopped"},
                      // Answers the opening request and two blocks, then nothing.
                      FaultCase{"falls_silent",
                                {"--mute-after", "2"},
                                {"--timeout", "1"},
                                5,
                                "silent",
                                "the machine answered, then fell silent",
                                "fell silent"},
                      FaultCase{"port_lost",
                                {"--vanish-after", "3"},
                                {},
                                6,
                                "port lost",
                                "the port was lost (device unplugged or closed)",
                                "vanished"}),
    [](const auto& info) { return std::string(info.param.name); });

// A device that is not there and a machine that never answers: no machine,
// and the failed open says why in the system's words.
TEST_F(CliTest, NoMachineOnAnyPortExitsWith3) {
    SimProcess silent({"--type", "1", "--silent"});
    ASSERT_TRUE(silent.Started());

    const auto r = RunCli({"--type", "1", "--port", kMissing, "--port", silent.Path(),
                           WriteImageFile(1, Pattern(3000))});
    EXPECT_EQ(r.exitStatus, 3) << Describe(r);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], std::string(kMissing) + ": open failed: " + std::strerror(ENOENT));
    EXPECT_EQ(lines[1], silent.Path() + ": no answer");
    EXPECT_TRUE(Contains(lines[2], ": no machine, 0 of 3000 bytes in ")) << lines[2];
    EXPECT_TRUE(EndsWith(lines[2], "(no machine answered on any port)")) << lines[2];
}

// --- Bad arguments ---------------------------------------------------------------------

struct BadArgumentsCase {
    const char* name;
    std::vector<std::string> args;  // "IMAGE" stands for a good image file
    std::string says;               // on the first line of standard error
    int errnum;                     // when nonzero, the system's words for it follow
    bool usage;                     // the usage follows
};

void PrintTo(const BadArgumentsCase& c, std::ostream* os) {
    *os << c.name;
}

class BadArgumentsTest : public CliTest, public ::testing::WithParamInterface<BadArgumentsCase> {};

TEST_P(BadArgumentsTest, ExitWith2AndSayWhy) {
    const BadArgumentsCase& c = GetParam();
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("IMAGE"), WriteImageFile(1, Pattern(3000)));

    const auto r = RunCli(args);
    EXPECT_EQ(r.exitStatus, 2) << Describe(r);
    EXPECT_EQ(r.out, "");
    const std::string says =
        "download-cli: " + c.says + (c.errnum ? std::string(std::strerror(c.errnum)) : "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), says) << r.err;
    EXPECT_EQ(Contains(r.err, "\nusage: download-cli --type 0|1|2"), c.usage) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadArgumentsTest,
    ::testing::Values(
        BadArgumentsCase{"no_type", {"--port", kMissing, "IMAGE"}, "--type is required", 0, true},
        BadArgumentsCase{"type_7",
                         {"--type", "7", "--port", kMissing, "IMAGE"},
                         "--type takes 0, 1 or 2, not 7",
                         0,
                         true},
        BadArgumentsCase{"unknown_option",
                         {"--type", "1", "--port", kMissing, "--bogus", "IMAGE"},
                         "unknown option --bogus",
                         0,
                         true},
        BadArgumentsCase{"missing_image",
                         {"--type", "1", "--port", kMissing, "/nonexistent/image.UPL"},
                         "opening /nonexistent/image.UPL: ",
                         ENOENT,
                         false},
        BadArgumentsCase{"image_is_a_folder",
                         {"--type", "1", "--port", kMissing, "/"},
                         "reading /: ",
                         EISDIR,
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- --json --------------------------------------------------------------------------

// Every line is one JSON object. Each unit tells, in order: the ports tried,
// the machine that answered, its progress (never going back, up to 100 %),
// how it ended, and (with --loop) the running count.
TEST_F(CliTest, JsonTellsEachUnitInOrder) {
    const Bytes image = Pattern(1000, 4);
    SimProcess sim(SimArgs(1, image));
    ASSERT_TRUE(sim.Started());

    CliProcess cli({"--type", "1", "--json", "--loop", "--port", kMissing, "--port", sim.Path(),
                    WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return Occurrences(out, "\"event\":\"done\"") >= 2; }, 60s))
        << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(60s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");

    std::vector<JsonObject> events;
    for (const std::string& line : Lines(r.out)) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << "not one JSON object: " << line;
        events.push_back(*object);
    }
    auto event = [&](std::size_t i) {
        return i < events.size() ? Field(events[i], "event") : std::string("<end>");
    };
    std::size_t i = 0;
    int units = 0;
    while (i < events.size()) {
        ++units;
        SCOPED_TRACE("unit " + std::to_string(units));
        ASSERT_EQ(event(i), "port");
        EXPECT_EQ(Field(events[i], "port"), kMissing);
        EXPECT_EQ(Field(events[i], "result"), "open failed");
        EXPECT_EQ(Field(events[i], "reason"), std::strerror(ENOENT));
        ++i;
        ASSERT_EQ(event(i), "port");
        EXPECT_EQ(Field(events[i], "port"), sim.Path());
        EXPECT_EQ(Field(events[i], "result"), "opened");
        ++i;
        ASSERT_EQ(event(i), "connected");
        EXPECT_EQ(Field(events[i], "port"), sim.Path());
        ++i;
        int percent = -1;
        for (; event(i) == "progress"; ++i) {
            const int now = std::stoi(Field(events[i], "percent"));
            EXPECT_GE(now, percent) << "progress went back";
            percent = now;
            EXPECT_EQ(Field(events[i], "total"), "1000");
            EXPECT_LE(std::stoi(Field(events[i], "sent")), 1000);
        }
        EXPECT_EQ(percent, 100);
        ASSERT_EQ(event(i), "done");
        EXPECT_EQ(Field(events[i], "result"), "done");
        EXPECT_EQ(Field(events[i], "port"), sim.Path());
        EXPECT_EQ(Field(events[i], "sent"), "1000");
        EXPECT_EQ(Field(events[i], "total"), "1000");
        ++i;
        ASSERT_EQ(event(i), "units");
        EXPECT_EQ(Field(events[i], "passed"), std::to_string(units));
        EXPECT_EQ(Field(events[i], "failed"), "0");
        ++i;
    }
    EXPECT_GE(units, 2);
    ExpectWholeImage(sim);
}

// --- --record --------------------------------------------------------------------------

// One line per unit, appended, whether the unit was done or not.
TEST_F(CliTest, RecordAppendsALinePerUnit) {
    // 3000 bytes, Pattern(3000, 9) scrambled; its SHA-256 as sha256sum gives it.
    const std::string image = WriteImageFile(1, Pattern(3000, 9));
    const std::string sha256 = "9b7a178935852f0d391e73aa7cc5ffbeb0a4c184f3903000daee6a676a5dec54";
    const std::string record = (dir / "units.jsonl").string();
    SimProcess sim({"--type", "1"});
    ASSERT_TRUE(sim.Started());

    const auto done = RunCli({"--type", "1", "--port", sim.Path(), "--record", record, image});
    EXPECT_EQ(done.exitStatus, 0) << Describe(done);
    const auto failed = RunCli({"--type", "1", "--port", kMissing, "--record", record, image});
    EXPECT_EQ(failed.exitStatus, 3) << Describe(failed);

    const std::vector<std::string> lines = Lines(ReadText(record));
    ASSERT_EQ(lines.size(), 2u) << ReadText(record);
    struct Unit {
        std::string port, result, reason;
    };
    const Unit units[2] = {{sim.Path(), "done", "the whole image was sent"},
                           {kMissing, "no machine", "no machine answered on any port"}};
    const std::set<std::string> fields = {"time",    "port",   "type",   "machine",
                                          "image",   "size",   "sha256", "seconds",
                                          "repeats", "result", "reason"};
    static const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (int n = 0; n < 2; ++n) {
        SCOPED_TRACE(lines[n]);
        const auto object = ParseJsonLine(lines[n]);
        ASSERT_TRUE(object.has_value());
        std::set<std::string> keys;
        for (const auto& [key, value] : *object) {
            keys.insert(key);
            const bool number =
                key == "type" || key == "size" || key == "seconds" || key == "repeats";
            EXPECT_EQ(value.isString, !number) << key;
        }
        EXPECT_EQ(keys, fields);
        const JsonObject& o = *object;
        EXPECT_TRUE(std::regex_match(Field(o, "time"), utc));
        EXPECT_EQ(Field(o, "port"), units[n].port);
        EXPECT_EQ(Field(o, "type"), "1");
        EXPECT_EQ(Field(o, "machine"), kMachineTypes[1].name);
        EXPECT_EQ(Field(o, "image"), image);
        EXPECT_EQ(Field(o, "size"), "3000");
        EXPECT_EQ(Field(o, "sha256"), sha256);
        EXPECT_GT(std::stod(Field(o, "seconds")), 0);
        EXPECT_EQ(Field(o, "repeats"), "0");
        EXPECT_EQ(Field(o, "result"), units[n].result);
        EXPECT_EQ(Field(o, "reason"), units[n].reason);
    }
}

// --- --loop ----------------------------------------------------------------------------

// One machine that keeps serving: the tool programs it, re-arms, programs it
// again, and keeps a running count until it is interrupted.
TEST_F(CliTest, LoopProgramsUnitAfterUnitUntilInterrupted) {
    const Bytes image = Pattern(1000, 6);
    SimProcess sim(SimArgs(1, image));
    ASSERT_TRUE(sim.Started());

    CliProcess cli({"--type", "1", "--loop", "--port", sim.Path(), WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return Contains(out, "units: 2 passed, 0 failed\n"); }, 60s))
        << cli.Out();
    cli.Signal(SIGINT);
    // The unit under way, if any, is finished first; then the tool ends.
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");

    std::vector<std::string> counts;
    for (const std::string& line : Lines(r.out)) {
        if (StartsWith(line, "units: ")) {
            counts.push_back(line);
        }
    }
    ASSERT_GE(counts.size(), 2u) << r.out;
    for (std::size_t n = 0; n < counts.size(); ++n) {
        EXPECT_EQ(counts[n], "units: " + std::to_string(n + 1) + " passed, 0 failed");
    }
    // Each unit says where its machine answered, and got the whole image.
    EXPECT_EQ(
        CountLines(r.out,
                   [&](const std::string& l) { return l == sim.Path() + ": machine answered"; }),
        counts.size())
        << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return StartsWith(l, sim.Path() + ": done, 1000 of 1000 bytes in ");
                         }),
              counts.size())
        << r.out;
    ExpectWholeImage(sim);
}

// Between units the tool waits for the next one: scans that find no
// machine are neither results nor failures, and each port's state is told
// once per wait.
TEST_F(CliTest, LoopWaitsForTheNextUnitWithoutCountingEmptyScans) {
    const Bytes image = Pattern(1000, 7);
    const std::string link = std::filesystem::temp_directory_path() /
                             ("cli_tests_" + std::to_string(getpid()) + "_next_unit");
    std::filesystem::remove(link);
    CliProcess cli({"--type", "1", "--loop", "--port", link, WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    // Several scans pass with nothing attached.
    ASSERT_TRUE(
        cli.WaitUntil([&](const std::string& out) { return Contains(out, link + ": "); }, 10s))
        << cli.Out();
    std::this_thread::sleep_for(3s);

    std::vector<std::string> args = SimArgs(1, image);
    args.insert(args.end(), {"--link", link});
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return Contains(out, "units: 1 passed, 0 failed\n"); }, 30s))
        << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_FALSE(Contains(r.out, "no machine")) << r.out;
    EXPECT_EQ(
        CountLines(r.out,
                   [&](const std::string& l) { return StartsWith(l, link + ": open failed"); }),
        1u)
        << r.out;
    const auto lines = Lines(r.out);
    const auto firstCount = std::find_if(
        lines.begin(), lines.end(), [](const std::string& l) { return StartsWith(l, "units: "); });
    ASSERT_NE(firstCount, lines.end());
    EXPECT_EQ(*firstCount, "units: 1 passed, 0 failed");
    ExpectWholeImage(sim);
}

// A type 0 machine that restarts mid-download: that unit falls silent, and
// the next unit programs the restarted machine from its first request.
TEST_F(CliTest, LoopServesAMachineRestartedMidDownload) {
    const Bytes image = Pattern(1000, 11);
    SimProcess sim(SimArgs(0, image, {"--restart-after", "3"}));
    ASSERT_TRUE(sim.Started());

    CliProcess cli({"--type", "0", "--loop", "--timeout", "1", "--port", sim.Path(),
                    WriteImageFile(0, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) {
            return Contains(out, "units: 1 passed, 1 failed\n") ||
                   Contains(out, "units: 0 passed, 2 failed\n");
        },
        60s))
        << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 1) << Describe(r);  // one unit failed
    EXPECT_EQ(r.err, "");

    // The result of each unit, in order.
    std::vector<std::string> units;
    for (const std::string& line : Lines(r.out)) {
        for (const char* result : {"silent", "done"}) {
            if (StartsWith(line, sim.Path() + ": " + result + ", ")) {
                units.emplace_back(result);
            }
        }
    }
    // The unit under way at the interrupt is finished too, and done.
    ASSERT_GE(units.size(), 2u) << r.out;
    EXPECT_EQ(units[0], "silent") << r.out;
    for (std::size_t n = 1; n < units.size(); ++n) {
        EXPECT_EQ(units[n], "done") << r.out;
    }
    EXPECT_TRUE(Contains(r.out, sim.Path() + ": done, 1000 of 1000 bytes in ")) << r.out;
    ExpectWholeImage(sim);
}

// --- --parallel --------------------------------------------------------------------------

struct ParallelCase {
    const char* name;
    bool secondSilent;
    int exitStatus;  // the worst of the two
    const char* secondResult;
};

void PrintTo(const ParallelCase& c, std::ostream* os) {
    *os << c.name;
}

class ParallelTest : public CliTest, public ::testing::WithParamInterface<ParallelCase> {};

// A machine on each port at once, one result line each.
TEST_P(ParallelTest, ProgramsEveryPortAndEndsWithTheWorstStatus) {
    const ParallelCase& c = GetParam();
    const Bytes image = Pattern(3000, 8);
    SimProcess first(SimArgs(1, image));
    SimProcess second(SimArgs(
        1, image,
        c.secondSilent ? std::vector<std::string>{"--silent"} : std::vector<std::string>{}));
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());

    const auto r = RunCli({"--type", "1", "--parallel", "--port", first.Path(), "--port",
                           second.Path(), WriteImageFile(1, image)});
    EXPECT_EQ(r.exitStatus, c.exitStatus) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out).size(), 2u) << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return StartsWith(l, first.Path() + ": done, 3000 of 3000 bytes in ");
                         }),
              1u)
        << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return StartsWith(l, second.Path() + ": " + c.secondResult + ", ");
                         }),
              1u)
        << r.out;
    ExpectWholeImage(first);
    if (!c.secondSilent) {
        ExpectWholeImage(second);
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, ParallelTest,
                         ::testing::Values(ParallelCase{"two_machines", false, 0, "done"},
                                           ParallelCase{"one_silent", true, 3, "no machine"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
