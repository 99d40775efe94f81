// download-cli, the built program, against target-sim child processes on
// pseudo-terminals: its exit statuses, what it prints (plain lines and
// --json), the --record file, --loop and --parallel.
//
// Standard output is a pipe here, never a terminal, so the tool prints its
// progress as plain lines rather than a bar redrawn in place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
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

#include "dt_version.h"
#include "image/machine_types.h"
#include "image/stored_image.h"
#include "station/json.h"
#include "station/sha256.h"
#include "tests/cli/posix/cli_process.h"
#include "tests/posix/posix_support.h"

namespace {

constexpr char kMissing[] = "/nonexistent/ttyX";

// --- The Linux build, or the Windows build under Wine ------------------------------------
// With DT_CLI_COM_DIR set (a Wine prefix's dosdevices folder, see
// tests/cli/run_under_wine.sh) the tool is the Windows build: a port is a
// COM name linked there to a machine's pseudo-terminal, and files go by their
// names on Wine's drive Z:.

const char* ComDir() {
    const char* dir = std::getenv("DT_CLI_COM_DIR");
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
}

bool UnderWine() {
    return ComDir() != nullptr;
}

// A file's name as the tool is given it.
std::string ToolPath(const std::string& path) {
    if (!UnderWine()) {
        return path;
    }
    std::string name = "Z:" + path;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// A port with nothing behind it.
std::string MissingPort() {
    return UnderWine() ? "\\\\.\\COM250" : kMissing;
}

// The system's words for a port that is not there.
void ExpectNoSuchPort(const std::string& reason) {
    if (UnderWine()) {
        EXPECT_FALSE(reason.empty());
    } else {
        EXPECT_EQ(reason, std::strerror(ENOENT));
    }
}

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
    void TearDown() override {
        for (const std::string& link : comLinks) {
            std::filesystem::remove(link);
        }
    }

    // The name the tool is given for a machine's port: its pseudo-terminal,
    // or under Wine a free COM port linked to it (named as the tool names
    // it, COM10 on with the device namespace prefix).
    std::string Port(const SimProcess& sim) {
        if (!UnderWine()) {
            return sim.Path();
        }
        if (const auto it = comNames.find(sim.Path()); it != comNames.end()) {
            return it->second;
        }
        for (int n = 20; n < 250; ++n) {
            const std::string link = std::string(ComDir()) + "/com" + std::to_string(n);
            // A swapped port's link is absent between its machines.
            const bool taken = std::find(comLinks.begin(), comLinks.end(), link) != comLinks.end();
            if (!taken && symlink(sim.Path().c_str(), link.c_str()) == 0) {
                comLinks.push_back(link);
                return comNames[sim.Path()] = "\\\\.\\COM" + std::to_string(n);
            }
        }
        ADD_FAILURE() << "no free COM port in " << ComDir();
        return sim.Path();
    }

    // A port whose machines are swapped, as units are on a fixture: each
    // target-sim started with --link `link` stands behind it in turn, and
    // between two of them nothing does. Returns the name the tool is given
    // for it: the link itself, or under Wine a free COM port whose
    // dosdevices entry is the link.
    std::string SwappedPort(std::string& link) {
        if (!UnderWine()) {
            link = (dir.path() / "swapped-port").string();
            return link;
        }
        for (int n = 20; n < 250; ++n) {
            link = std::string(ComDir()) + "/com" + std::to_string(n);
            std::error_code error;
            if (!std::filesystem::exists(std::filesystem::symlink_status(link, error))) {
                comLinks.push_back(link);
                return "\\\\.\\COM" + std::to_string(n);
            }
        }
        ADD_FAILURE() << "no free COM port in " << ComDir();
        return link;
    }

    std::string WriteFile(const std::string& name, const Bytes& contents) {
        return dir.Write(name, contents).string();
    }

    // The image as the machine type's files hold it, as the tool names it.
    std::string WriteImageFile(MachineType type, const Bytes& image) {
        return ToolPath(WriteFile("image" + StoredFileSuffix(type), StoredImage(type, image)));
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

    TempDir dir{"cli_tests"};
    std::vector<std::string> comLinks;
    std::map<std::string, std::string> comNames;  // pseudo-terminal -> COM name
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
        RunCli({"--type", std::to_string(type), "--port", Port(sim), WriteImageFile(type, image)});
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
                             return l.starts_with(Port(sim) + ": done, 3000 of 3000 bytes in ") &&
                                    l.ends_with("(the whole image was sent)");
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

    std::vector<std::string> args{"--type", "1", "--port", Port(sim)};
    args.insert(args.end(), c.cliOptions.begin(), c.cliOptions.end());
    args.push_back(WriteImageFile(1, image));
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(Port(sim) + ": " + c.result + ", ") &&
                                    l.ends_with(std::string(" (") + c.reason + ")");
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

// --- "done" only when true ------------------------------------------------------------------

// A Lorvane 300 is told the length in 16 bits. One that believes what it is
// told asks for the end after 70000 mod 65536 bytes: not a done unit.
TEST_F(CliTest, AMachineThatEndsEarlyIsNotDone) {
    const Bytes image = Pattern(70000, 3);
    SimProcess sim(SimArgs(0, image, {"--trust-length"}));
    ASSERT_TRUE(sim.Started());
    const std::string record = (dir.path() / "units.jsonl").string();

    const auto r = RunCli({"--type", "0", "--port", Port(sim), "--record", ToolPath(record),
                           WriteImageFile(0, image)});
    EXPECT_EQ(r.exitStatus, 7) << Describe(r);
    EXPECT_TRUE(Contains(r.err,
                         "download-cli: warning: a Lorvane 300 is told the image's length "
                         "in 16 bits: 70000 bytes go out as a length of 4464\n"))
        << r.err;
    EXPECT_TRUE(Contains(r.out, Port(sim) + ": ended early, 4480 of 70000 bytes in ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "(the machine ended the download after 4480 of 70000 bytes)"))
        << r.out;
    const auto unit = ParseJsonLine(ReadText(record));
    ASSERT_TRUE(unit.has_value()) << ReadText(record);
    EXPECT_EQ(Field(*unit, "result"), "ended early");

    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_TRUE(Contains(outcome.lastLine, "received 4464 bytes")) << outcome.lastLine;
}

// The machine holds the line (flow control) once it has 23 of the 24
// blocks: the last one cannot be written, and the unit says so, bounded by
// the write's timeout (100 ms a byte and 100 ms: 6.2 s for its 61 bytes).
TEST_F(CliTest, ABlockThePortDidNotTakeIsNotDone) {
    const Bytes image = Pattern(3000, 2);
    SimProcess sim(SimArgs(1, image, {"--hold-after", "23"}));
    ASSERT_TRUE(sim.Started());

    const auto r = RunCli({"--type", "1", "--port", Port(sim), WriteImageFile(1, image)});
    EXPECT_EQ(r.exitStatus, 8) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Contains(r.out, Port(sim) + ": port refused, 2944 of 3000 bytes in ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "(the port did not take block 23: ")) << r.out;
    if (!UnderWine()) {
        EXPECT_TRUE(Contains(r.out, "timed out after 6200 ms (0 of 61 bytes taken))")) << r.out;
    }
    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_TRUE(Contains(outcome.lastLine, "received 2944 bytes in 23 blocks")) << outcome.lastLine;
}

// A port that goes away before its machine answered - here after its reply
// deadline, while it stays open until the next step - is one that did not
// answer: the scan goes on to the machine on the next port.
TEST_F(CliTest, TheScanGoesOnPastAPortLostBeforeAnAnswer) {
    const Bytes image = Pattern(1000, 5);
    SimProcess gone({"--type", "1", "--silent"});
    SimProcess sim(SimArgs(1, image));
    ASSERT_TRUE(gone.Started() && sim.Started());

    CliProcess cli({"--type", "1", "--json", "--port", Port(gone), "--port", Port(sim),
                    WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitForText("\"result\":\"no answer\"", 30s)) << cli.Out();
    gone.Stop();  // hangs up its line under the tool's open port
    const auto r = cli.Finish(60s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_FALSE(Contains(r.out, "port lost")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\"event\":\"connected\",\"port\":" + JsonString(Port(sim))))
        << r.out;
    ExpectWholeImage(sim);
}

// --- Records: what was sent, and never lost without a word ----------------------------

// A file longer than the machine's image is cut: the record gives the size
// and SHA-256 of what was read and sent (head -c 131072 FILE | sha256sum)
// and the file's own size, and the tool says so before it starts.
TEST_F(CliTest, ACutFileIsRecordedAsTheBytesSent) {
    const Bytes image = Pattern(200000, 8);
    const Bytes sent(image.begin(), image.begin() + 131072);
    SimProcess sim(SimArgs(1, sent));
    ASSERT_TRUE(sim.Started());
    const std::string file = WriteImageFile(1, image);
    const std::string record = (dir.path() / "units.jsonl").string();

    const auto r = RunCli(
        {"--type", "1", "--fast", "--port", Port(sim), "--record", ToolPath(record), file}, 120s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "download-cli: " + file +
                         " is 200000 bytes; only its first 131072 are programmed and recorded\n");
    const auto unit = ParseJsonLine(ReadText(record));
    ASSERT_TRUE(unit.has_value()) << ReadText(record);
    EXPECT_EQ(Field(*unit, "size"), "131072");
    EXPECT_EQ(Field(*unit, "file_size"), "200000");
    const Bytes stored = StoredImage(1, image);
    EXPECT_EQ(Field(*unit, "sha256"), Sha256Hex(Bytes(stored.begin(), stored.begin() + 131072)));
    ExpectWholeImage(sim);
}

struct RecordFailureCase {
    const char* name;
    std::string path;  // empty: a file in the test's folder
    int exitStatus;
    std::string says;    // the line on standard error, up to the reason
    std::string reason;  // its end
    bool programs;       // a unit is programmed before the failure shows
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool fifo = false;  // the path is a FIFO with no reader
};

void PrintTo(const RecordFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordFailureTest : public CliTest,
                          public ::testing::WithParamInterface<RecordFailureCase> {};

// A record file that cannot be opened is refused before any unit, as is a
// device (never waited on, never taken for a file); one that cannot be
// written ends the run after the unit, with a status of its own, and what
// the write took of the line is cut back off the file.
TEST_P(RecordFailureTest, IsSaidAndNeverExits0) {
    const RecordFailureCase& c = GetParam();
    if ((c.fileSizeLimit != RLIM_INFINITY || c.fifo) && UnderWine()) {
        GTEST_SKIP() << "FIFOs and file-size limits are a POSIX system's own";
    }
    const Bytes image = Pattern(1000, 6);
    SimProcess sim(SimArgs(1, image));
    ASSERT_TRUE(sim.Started());
    const std::string path = c.path.empty() ? (dir.path() / "units.jsonl").string() : c.path;
    if (c.fifo) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    }
    const std::string imagePath = WriteImageFile(1, image);

    // The tool inherits the limit, and ignores SIGXFSZ itself.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = std::min(c.fileSizeLimit, old.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto r = RunCli(
        {"--type", "1", "--loop", "--port", Port(sim), "--record", ToolPath(path), imagePath});
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(r.exitStatus, c.exitStatus) << Describe(r);
    const std::string says = "download-cli: " + c.says + ToolPath(path) + ": ";
    EXPECT_TRUE(r.err.starts_with(says)) << r.err;
    if (!UnderWine()) {
        EXPECT_TRUE(r.err.starts_with(says + c.reason)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // The unit's result is still shown after the failed record; no further
    // unit is started.
    EXPECT_EQ(Occurrences(r.out, ": done, 1000 of 1000 bytes"), c.programs ? 1u : 0u) << r.out;
    const SimProcess::Outcome outcome = sim.Stop();
    EXPECT_EQ(Contains(outcome.lastLine, "received 1000 bytes"), c.programs) << outcome.lastLine;
    if (c.fileSizeLimit != RLIM_INFINITY) {
        EXPECT_EQ(std::filesystem::file_size(path), 0u) << "no part of a line is left";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordFailureTest,
    ::testing::Values(RecordFailureCase{"cannot_be_opened", "/nonexistent/units.jsonl", 2,
                                        "opening ", std::strerror(ENOENT), false},
                      RecordFailureCase{"a_device", "/dev/full", 2, "opening ",
                                        "Not a regular file (a device)", false},
                      RecordFailureCase{"a_fifo", "", 2, "opening ", "Not a regular file (a FIFO)",
                                        false, RLIM_INFINITY, true},
                      RecordFailureCase{"cannot_be_written", "", 9, "writing a record to ",
                                        "only 100 of ", true, 100}),
    [](const auto& info) { return std::string(info.param.name); });

// The image and the record file in a folder named in Cyrillic: the tool
// reads and appends them under exactly the names given, records the image
// as it was named, and names a missing file there as it was given. (Under
// Wine the names go through the UTF-16 command line and file names.)
TEST_F(CliTest, RecordAndImageInAFolderNamedInCyrillic) {
    const Bytes image = Pattern(1000, 9);
    SimProcess sim(SimArgs(1, image));
    ASSERT_TRUE(sim.Started());
    const std::filesystem::path folder = dir.path() / std::filesystem::path(u8"Линия 3");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    WriteBytes(folder / std::filesystem::path(u8"прошивка.UPL"), StoredImage(1, image));
    const std::string imagePath =
        ToolPath((folder / std::filesystem::path(u8"прошивка.UPL")).string());
    const std::string recordPath =
        ToolPath((folder / std::filesystem::path(u8"записи.jsonl")).string());

    const auto r = RunCli({"--type", "1", "--port", Port(sim), "--record", recordPath, imagePath});
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"записи.jsonl", "прошивка.UPL"}));
    const std::vector<std::string> lines =
        Lines(ReadText(folder / std::filesystem::path(u8"записи.jsonl")));
    ASSERT_EQ(lines.size(), 1u);
    const std::optional<JsonObject> record = ParseJsonLine(lines[0]);
    ASSERT_TRUE(record) << lines[0];
    EXPECT_EQ(Field(*record, "image"), imagePath);
    EXPECT_EQ(Field(*record, "result"), "done");

    const std::string missing = ToolPath((folder / std::filesystem::path(u8"нет.UPL")).string());
    const auto m = RunCli({"--type", "1", "--port", MissingPort(), missing});
    EXPECT_EQ(m.exitStatus, 2) << Describe(m);
    EXPECT_TRUE(m.err.starts_with("download-cli: opening " + missing + ": ")) << m.err;
}

// A device that is not there and a machine that never answers: no machine,
// and the failed open says why in the system's words.
TEST_F(CliTest, NoMachineOnAnyPortExitsWith3) {
    SimProcess silent({"--type", "1", "--silent"});
    ASSERT_TRUE(silent.Started());

    const auto r = RunCli({"--type", "1", "--port", MissingPort(), "--port", Port(silent),
                           WriteImageFile(1, Pattern(3000))});
    EXPECT_EQ(r.exitStatus, 3) << Describe(r);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(lines[0].starts_with(MissingPort() + ": open failed: ")) << lines[0];
    ExpectNoSuchPort(lines[0].substr(std::min(lines[0].size(), MissingPort().size() + 15)));
    EXPECT_EQ(lines[1], Port(silent) + ": no answer");
    EXPECT_TRUE(Contains(lines[2], ": no machine, 0 of 3000 bytes in ")) << lines[2];
    EXPECT_TRUE(lines[2].ends_with("(no machine answered on any port)")) << lines[2];
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
        BadArgumentsCase{
            "no_type", {"--port", MissingPort(), "IMAGE"}, "--type is required", 0, true},
        BadArgumentsCase{"type_7",
                         {"--type", "7", "--port", MissingPort(), "IMAGE"},
                         "--type takes 0, 1 or 2, not 7",
                         0,
                         true},
        BadArgumentsCase{"unknown_option",
                         {"--type", "1", "--port", MissingPort(), "--bogus", "IMAGE"},
                         "unknown option --bogus",
                         0,
                         true},
        BadArgumentsCase{"missing_image",
                         {"--type", "1", "--port", MissingPort(), "/nonexistent/image.UPL"},
                         "opening /nonexistent/image.UPL: ",
                         ENOENT,
                         false},
        BadArgumentsCase{"image_is_a_folder",
                         {"--type", "1", "--port", MissingPort(), "/"},
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

    CliProcess cli({"--type", "1", "--json", "--loop", "--port", MissingPort(), "--port", Port(sim),
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
        EXPECT_EQ(Field(events[i], "port"), MissingPort());
        EXPECT_EQ(Field(events[i], "result"), "open failed");
        ExpectNoSuchPort(Field(events[i], "reason"));
        ++i;
        ASSERT_EQ(event(i), "port");
        EXPECT_EQ(Field(events[i], "port"), Port(sim));
        EXPECT_EQ(Field(events[i], "result"), "opened");
        ++i;
        ASSERT_EQ(event(i), "connected");
        EXPECT_EQ(Field(events[i], "port"), Port(sim));
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
        EXPECT_EQ(Field(events[i], "port"), Port(sim));
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
    const std::string record = (dir.path() / "units.jsonl").string();
    SimProcess sim({"--type", "1"});
    ASSERT_TRUE(sim.Started());

    const auto done =
        RunCli({"--type", "1", "--port", Port(sim), "--record", ToolPath(record), image});
    EXPECT_EQ(done.exitStatus, 0) << Describe(done);
    const auto failed =
        RunCli({"--type", "1", "--port", MissingPort(), "--record", ToolPath(record), image});
    EXPECT_EQ(failed.exitStatus, 3) << Describe(failed);

    const std::vector<std::string> lines = Lines(ReadText(record));
    ASSERT_EQ(lines.size(), 2u) << ReadText(record);
    struct Unit {
        std::string port, result, reason;
    };
    const Unit units[2] = {{Port(sim), "done", "the whole image was sent"},
                           {MissingPort(), "no machine", "no machine answered on any port"}};
    const std::set<std::string> fields = {"time",    "station", "version", "port",   "type",
                                          "machine", "image",   "size",    "sha256", "seconds",
                                          "repeats", "result",  "reason"};
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
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
        if (!UnderWine()) {  // Windows' computer name is its own
            EXPECT_EQ(Field(o, "station"), host);
        }
        EXPECT_FALSE(Field(o, "station").empty());
        EXPECT_EQ(Field(o, "version"), DT_VERSION);
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

    CliProcess cli({"--type", "1", "--loop", "--port", Port(sim), WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitForText("units: 2 passed, 0 failed\n", 60s)) << cli.Out();
    cli.Signal(SIGINT);
    // The unit under way, if any, is finished first; then the tool ends.
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");

    std::vector<std::string> counts;
    for (const std::string& line : Lines(r.out)) {
        if (line.starts_with("units: ")) {
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
                   [&](const std::string& l) { return l == Port(sim) + ": machine answered"; }),
        counts.size())
        << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(Port(sim) + ": done, 1000 of 1000 bytes in ");
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
    const std::string link = UniqueTempPath("cli_tests_next_unit");
    std::filesystem::remove(link);
    CliProcess cli({"--type", "1", "--loop", "--port", link, WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    // Several scans pass with nothing attached.
    ASSERT_TRUE(cli.WaitForText(link + ": ", 10s)) << cli.Out();
    std::this_thread::sleep_for(3s);

    std::vector<std::string> args = SimArgs(1, image);
    args.insert(args.end(), {"--link", link});
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(cli.WaitForText("units: 1 passed, 0 failed\n", 30s)) << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_FALSE(Contains(r.out, "no machine")) << r.out;
    EXPECT_EQ(
        CountLines(r.out,
                   [&](const std::string& l) { return l.starts_with(link + ": open failed"); }),
        1u)
        << r.out;
    const auto lines = Lines(r.out);
    const auto firstCount = std::find_if(
        lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("units: "); });
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
            if (line.starts_with(sim.Path() + ": " + result + ", ")) {
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

    const auto r = RunCli({"--type", "1", "--parallel", "--port", Port(first), "--port",
                           Port(second), WriteImageFile(1, image)});
    EXPECT_EQ(r.exitStatus, c.exitStatus) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lines(r.out).size(), 2u) << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(Port(first) + ": done, 3000 of 3000 bytes in ");
                         }),
              1u)
        << r.out;
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(Port(second) + ": " + c.secondResult + ", ");
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

// --- Port names as people write them -----------------------------------------------------

// Windows opens a COM port from COM10 on only by its device name
// (\\.\COM20), never by "COM20" alone: a port written plainly, in any
// case, is opened, shown and recorded by its device name.
TEST_F(CliTest, AComPortWrittenPlainlyIsOpenedShownAndRecordedByItsDeviceName) {
    if (!UnderWine()) {
        GTEST_SKIP() << "COM ports are Windows' names; a path is taken as written";
    }
    const Bytes image = Pattern(1000, 4);
    SimProcess sim(SimArgs(0, image));
    ASSERT_TRUE(sim.Started());
    const std::string device = Port(sim);  // "\\.\COM20" or further on
    const std::string prefix = "\\\\.\\COM";
    ASSERT_TRUE(device.starts_with(prefix)) << device;
    const std::string written = "com" + device.substr(prefix.size());
    const std::string record = (dir.path() / "units.jsonl").string();

    const auto r = RunCli(
        {"--type", "0", "--port", written, "--record", ToolPath(record), WriteImageFile(0, image)});
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(device + ": done, 1000 of 1000 bytes in ");
                         }),
              1u)
        << r.out;
    const std::vector<std::string> lines = Lines(ReadText(record));
    ASSERT_EQ(lines.size(), 1u) << ReadText(record);
    const auto object = ParseJsonLine(lines[0]);
    ASSERT_TRUE(object.has_value()) << lines[0];
    EXPECT_EQ(Field(*object, "port"), device);
    ExpectWholeImage(sim);
}

// --- Images that are not files ----------------------------------------------------------

// A FIFO with no writer would hold a plain open for ever; a device is no
// image either. Each is refused by name, at once, with exit status 2.
TEST_F(CliTest, RefusesAnImageThatIsNotARegularFile) {
    const std::string fifo = (dir.path() / "image.UPL").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    for (const auto& [path, kind] :
         {std::pair<std::string, std::string>{fifo, "a FIFO"},
          std::pair<std::string, std::string>{"/dev/null", "a device"}}) {
        SCOPED_TRACE(path);
        const auto r = RunCli({"--type", "1", "--port", MissingPort(), path}, 20s);
        EXPECT_FALSE(r.overdue) << "blocked on the image";
        EXPECT_EQ(r.exitStatus, 2) << Describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "download-cli: opening " + path + ": Not a regular file (" + kind + ")\n");
    }
}

// Serial numbers against target-sim, through download-cli --station: each
// machine receives its unit's number at the offset, in the format (its
// expected image holds it); a SIGKILL between units and a restart give the
// next number, none twice and none skipped.
TEST_F(CliTest, SerialNumbersGoOnAfterAKillBetweenUnits) {
    if (UnderWine()) {
        GTEST_SKIP() << "a SIGKILL of a program under Wine kills Wine's process";
    }
    const Bytes image = Pattern(1000, 4);
    const std::string link = (dir.path() / "fixture").string();
    const std::string record = (dir.path() / "units.jsonl").string();
    const std::string stationText = "type = 1\nimage = " + WriteImageFile(1, image) +
                                    "\nrecord = units.jsonl\nport = " + link +
                                    "\nserial_first = 100\nserial_last = 199\n"
                                    "serial_offset = 200\nserial_format = dec:6\n";
    const std::string station =
        WriteFile("line.station", Bytes(stationText.begin(), stationText.end()));
    for (const char* serial : {"000100", "000101"}) {
        SCOPED_TRACE(serial);
        Bytes expected = image;
        std::copy(serial, serial + 6, expected.begin() + 200);
        // One unit on the fixture, then it is taken away.
        SimProcess sim({"--type", "1", "--link", link, "--sessions", "1", "--expect",
                        WriteFile(std::string(serial) + ".bin", expected)});
        ASSERT_TRUE(sim.Started());
        CliProcess cli({"--station", station, "--json"});
        ASSERT_TRUE(cli.WaitForText("\"result\":\"done\"", 30s)) << cli.Out();
        // Back to waiting for the next unit, which does not come.
        ASSERT_TRUE(cli.WaitUntil(
            [](const std::string& out) {
                const std::size_t done = out.find("\"result\":\"done\"");
                return Occurrences(out.substr(done), "\"event\":\"port\"") >= 2;
            },
            30s))
            << cli.Out();
        cli.Signal(SIGKILL);
        EXPECT_EQ(cli.Finish(10s).signal, SIGKILL);
        const SimProcess::Outcome outcome = sim.Stop();
        EXPECT_TRUE(Contains(outcome.lastLine, "finished; matches the expected image"))
            << outcome.lastLine;
    }
    std::vector<JsonObject> units;
    for (const std::string& line : Lines(ReadText(record))) {
        const auto unit = ParseJsonLine(line);
        ASSERT_TRUE(unit.has_value()) << line;
        units.push_back(*unit);
    }
    ASSERT_EQ(units.size(), 2u) << ReadText(record);
    EXPECT_EQ(Field(units[0], "unit_serial"), "100");
    EXPECT_EQ(Field(units[1], "unit_serial"), "101");
    Bytes sent = image;
    std::copy_n("000101", 6, sent.begin() + 200);
    EXPECT_EQ(Field(units[1], "sent_sha256"), Sha256Hex(sent));
    EXPECT_EQ(Field(units[1], "sha256"), Sha256Hex(StoredImage(1, image)));
}

// A test rig gives unit IDs on standard input, "POSITION ID" a line: with
// require_scan = yes each position programs only once its ID is in, and
// the record carries it; a line that is no binding is refused with why.
TEST_F(CliTest, UnitIdsFromStandardInputGoToTheirPositionsUnits) {
    const Bytes image = Pattern(1000, 5);
    SimProcess first(SimArgs(1, image, {"--sessions", "1"}));
    SimProcess second(SimArgs(1, image, {"--sessions", "1"}));
    ASSERT_TRUE(first.Started() && second.Started());
    const std::string text = "type = 1\nimage = " + ToolPath(WriteImageFile(1, image)) +
                             "\nrecord = units.jsonl\nrequire_scan = yes\nport = " + Port(first) +
                             "\nport = " + Port(second) + "\n";
    const std::string station = WriteFile("line.station", Bytes(text.begin(), text.end()));
    const std::string ids = "2 BOARD-0002\n9 BOARD-9\nBOARD-X\n1 BOARD-0001\r\n";
    const std::string input = WriteFile("ids.txt", Bytes(ids.begin(), ids.end()));
    CliProcess cli({"--station", ToolPath(station), "--unit-ids"}, input);
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return Occurrences(out, ": done, 1000 of 1000 bytes") >= 2; },
        60s))
        << cli.Out();
    cli.Signal(SIGINT);
    const CliProcess::Result r = cli.Finish(20s);
    EXPECT_TRUE(Contains(r.err, "download-cli: unit ID line \"9 BOARD-9\" refused: no position 9"))
        << r.err;
    EXPECT_TRUE(
        Contains(r.err, "download-cli: unit ID line \"BOARD-X\" refused: not \"POSITION ID\""))
        << r.err;
    std::map<std::string, std::string> idOf;
    for (const std::string& line : Lines(ReadText(dir.path() / "units.jsonl"))) {
        const auto unit = ParseJsonLine(line);
        ASSERT_TRUE(unit.has_value()) << line;
        idOf[Field(*unit, "position")] = Field(*unit, "unit_id");
    }
    EXPECT_EQ(idOf, (std::map<std::string, std::string>{{"1", "BOARD-0001"}, {"2", "BOARD-0002"}}));
}

// An empty image would program nothing and call every unit done: it is
// refused before any port is opened, as an unreadable one is.
TEST_F(CliTest, RefusesAnEmptyImage) {
    const std::string image = WriteFile("empty.UPL", {});
    for (const std::vector<std::string>& mode : {std::vector<std::string>{}, {"--loop"}}) {
        std::vector<std::string> args = {"--type", "1", "--port", MissingPort()};
        args.insert(args.end(), mode.begin(), mode.end());
        args.push_back(ToolPath(image));
        SCOPED_TRACE(mode.empty() ? "once" : mode[0]);
        const auto r = RunCli(args);
        EXPECT_EQ(r.exitStatus, 2) << Describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "download-cli: reading " + ToolPath(image) +
                             ": the file is empty, not an image\n");
    }
}

// --- Interrupts --------------------------------------------------------------------------

struct InterruptCase {
    const char* name;
    int signal;
    bool duringDownload;  // else while the scan waits on a silent machine
    bool held = false;    // while a write waits on a line the machine holds
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class InterruptTest : public CliTest, public ::testing::WithParamInterface<InterruptCase> {};

// Ctrl+C or SIGTERM stops a unit wherever it is: the result and the record
// say "interrupted", and the exit status is 128 + the signal's number. The
// limit only turns a tool that does not stop into a failure, not a hang.
TEST_P(InterruptTest, StopsTheUnitAndRecordsIt) {
    const InterruptCase& c = GetParam();
    const Bytes image = Pattern(20000, 3);
    // At 9600 baud 20000 bytes take over 20 s: long enough to be stopped.
    SimProcess sim(c.held             ? SimArgs(1, image, {"--hold-after", "2"})
                   : c.duringDownload ? SimArgs(1, image, {"--baud", "9600"})
                                      : std::vector<std::string>{"--type", "1", "--silent"});
    ASSERT_TRUE(sim.Started());
    const std::string record = (dir.path() / "units.jsonl").string();

    CliProcess cli({"--type", "1", "--port", Port(sim), "--record", ToolPath(record),
                    WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    const std::string waitFor = c.held ? "0%: " : c.duringDownload ? "10%: " : Port(sim);
    ASSERT_TRUE(cli.WaitForText(waitFor, 30s)) << cli.Out();
    if (c.held) {
        std::this_thread::sleep_for(500ms);  // into the write of block 2, bounded at 13.4 s
    }
    cli.Signal(c.signal);
    const auto r = cli.Finish(10s);
    EXPECT_FALSE(r.overdue) << Describe(r);
    EXPECT_EQ(r.exitStatus, 128 + c.signal) << Describe(r);
    // Wine hands SIGINT to the Windows build as Ctrl+C.
    const std::string reason = UnderWine()          ? "interrupted by Ctrl+C"
                               : c.signal == SIGINT ? "interrupted by SIGINT"
                                                    : "interrupted by SIGTERM";
    EXPECT_EQ(CountLines(r.out,
                         [&](const std::string& l) {
                             return l.starts_with(Port(sim) + ": interrupted, ") &&
                                    l.ends_with("(" + reason + ")");
                         }),
              1u)
        << r.out;

    const std::vector<std::string> lines = Lines(ReadText(record));
    ASSERT_EQ(lines.size(), 1u) << ReadText(record);
    const auto object = ParseJsonLine(lines[0]);
    ASSERT_TRUE(object.has_value()) << lines[0];
    EXPECT_EQ(Field(*object, "result"), "interrupted");
    EXPECT_EQ(Field(*object, "reason"), reason);
    EXPECT_EQ(Field(*object, "port"), Port(sim));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(InterruptCase{"sigint_scanning", SIGINT, false},
                                           InterruptCase{"sigterm_scanning", SIGTERM, false},
                                           InterruptCase{"sigint_downloading", SIGINT, true},
                                           InterruptCase{"sigterm_downloading", SIGTERM, true},
                                           // Not "port refused": the write gave up
                                           // because it was told to.
                                           InterruptCase{"sigint_held_write", SIGINT, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// In --loop the first Ctrl+C lets the unit under way finish, so no machine
// is left half-programmed; a second one stops it at once.
TEST_F(CliTest, LoopFinishesTheUnitOnOneCtrlCAndStopsOnTwo) {
    const Bytes image = Pattern(6000, 5);
    for (const int presses : {1, 2}) {
        SCOPED_TRACE(std::to_string(presses) + " Ctrl+C");
        // About 7 s at 9600 baud.
        SimProcess sim(SimArgs(1, image, {"--baud", "9600"}));
        ASSERT_TRUE(sim.Started());
        const std::string record =
            (dir.path() / ("units" + std::to_string(presses) + ".jsonl")).string();
        CliProcess cli({"--type", "1", "--loop", "--port", Port(sim), "--record", ToolPath(record),
                        WriteImageFile(1, image)});
        ASSERT_TRUE(cli.Started());
        ASSERT_TRUE(cli.WaitForText("10%: ", 30s)) << cli.Out();
        cli.Signal(SIGINT);
        if (presses == 2) {
            // Two signals sent back to back arrive as one, as two key
            // presses never do.
            std::this_thread::sleep_for(300ms);
            cli.Signal(SIGINT);
        }
        const auto r = cli.Finish(30s);
        EXPECT_FALSE(r.overdue) << Describe(r);
        const std::vector<std::string> lines = Lines(ReadText(record));
        ASSERT_EQ(lines.size(), 1u) << ReadText(record);
        const auto object = ParseJsonLine(lines[0]);
        ASSERT_TRUE(object.has_value()) << lines[0];
        if (presses == 1) {
            EXPECT_EQ(r.exitStatus, 0) << Describe(r);
            EXPECT_EQ(Field(*object, "result"), "done");
            EXPECT_TRUE(Contains(r.out, "units: 1 passed, 0 failed\n")) << r.out;
            ExpectWholeImage(sim);
        } else {
            EXPECT_EQ(r.exitStatus, 130) << Describe(r);
            EXPECT_EQ(Field(*object, "result"), "interrupted");
            EXPECT_FALSE(Contains(r.out, "units: ")) << r.out;
        }
    }
}

// --- A production station: --parallel --loop ------------------------------------------

// The events of one position, parsed.
std::vector<JsonObject> EventsOf(const std::string& out, const std::string& position) {
    std::vector<JsonObject> events;
    for (const std::string& line : Lines(out)) {
        const auto object = ParseJsonLine(line);
        if (object && Field(*object, "position") == position) {
            events.push_back(*object);
        }
    }
    return events;
}

std::size_t CountEvents(const std::vector<JsonObject>& events, const std::string& name) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(),
                      [&](const JsonObject& e) { return Field(e, "event") == name; }));
}

// Each position programs, records and waits for its next unit without
// waiting for the others: a quick machine is served unit after unit while
// a slow one is still on its first. An adapter that is not present is a
// port that did not open, and no unit. One Ctrl+C lets the unit under way
// finish.
TEST_F(CliTest, StationServesEveryPositionOnItsOwn) {
    const Bytes image = Pattern(3000, 11);
    SimProcess quick(SimArgs(1, image));
    SimProcess slow(SimArgs(1, image, {"--baud", "9600"}));  // some 4 s a unit
    ASSERT_TRUE(quick.Started());
    ASSERT_TRUE(slow.Started());
    const std::string record = (dir.path() / "station.jsonl").string();
    CliProcess cli({"--type", "1", "--parallel", "--loop", "--json", "--port", Port(quick),
                    "--port", Port(slow), "--port", "serial:NO-SUCH-ADAPTER", "--record",
                    ToolPath(record), WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return CountEvents(EventsOf(out, "1"), "done") >= 3; }, 60s))
        << cli.Out();
    EXPECT_LT(CountEvents(EventsOf(cli.Out(), "2"), "done"), 3u) << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(30s);
    EXPECT_EQ(r.exitStatus, 0) << Describe(r);
    EXPECT_EQ(r.err, "");

    // Every line is an event of one of the three positions.
    for (const std::string& line : Lines(r.out)) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << line;
        const std::string position = Field(*object, "position");
        EXPECT_TRUE(position == "1" || position == "2" || position == "3") << line;
    }
    const auto absent = EventsOf(r.out, "3");
    ASSERT_FALSE(absent.empty()) << r.out;
    for (const JsonObject& e : absent) {
        EXPECT_EQ(Field(e, "event"), "port");
        EXPECT_EQ(Field(e, "result"), "open failed");
        EXPECT_EQ(Field(e, "reason"),
                  "no USB adapter with serial number NO-SUCH-ADAPTER is present");
    }

    // Each position counts its own units; each unit has its record.
    std::map<std::string, std::size_t> done;
    for (const std::string position : {"1", "2"}) {
        const auto events = EventsOf(r.out, position);
        done[position] = CountEvents(events, "done");
        EXPECT_EQ(CountEvents(events, "error"), 0u) << r.out;
        const auto last = std::find_if(events.rbegin(), events.rend(), [](const JsonObject& e) {
            return Field(e, "event") == "units";
        });
        ASSERT_NE(last, events.rend()) << r.out;
        EXPECT_EQ(Field(*last, "passed"), std::to_string(done[position]));
    }
    EXPECT_GE(done["1"], 3u);
    EXPECT_GE(done["2"], 1u) << "the slow position's unit under way is finished";
    const std::vector<std::string> records = Lines(ReadText(record));
    EXPECT_EQ(records.size(), done["1"] + done["2"]);
    for (const std::string& line : records) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << line;
        const std::string position = Field(*object, "position");
        EXPECT_EQ(Field(*object, "port"), position == "1" ? Port(quick) : Port(slow)) << line;
        EXPECT_EQ(Field(*object, "result"), "done") << line;
        EXPECT_FALSE(Field(*object, "station").empty()) << line;
        EXPECT_TRUE(object->contains("station") && object->contains("version")) << line;
    }
    ExpectWholeImage(quick);
    ExpectWholeImage(slow);
}

// download-cli --station runs a station file as the window does: its
// positions, its pinned image and its record file; its counts are the
// day's from that file, so a second run goes on counting where the first
// stopped. A command-line option beside --station is refused.
TEST_F(CliTest, AStationFileRunsWithoutAWindow) {
    const Bytes image = Pattern(2000, 31);
    SimProcess first(SimArgs(1, image));
    SimProcess second(SimArgs(1, image));
    ASSERT_TRUE(first.Started() && second.Started());
    const std::string imagePath = WriteImageFile(1, image);
    const std::string record = ToolPath((dir.path() / "units.jsonl").string());
    std::string text = "type = 1\nimage = " + imagePath + "\nrecord = " + record + "\n";
    text += "port = " + Port(first) + "\nport = " + Port(second) + "\n";
    const std::string file = ToolPath(WriteFile("line3.station", Bytes(text.begin(), text.end())));

    const auto refused = RunCli({"--station", file, "--type", "1"});
    EXPECT_EQ(refused.exitStatus, 2) << Describe(refused);

    const auto unitsOf = [](const std::string& out, const std::string& position) {
        std::vector<std::string> passed;
        for (const JsonObject& e : EventsOf(out, position)) {
            if (Field(e, "event") == "units") {
                passed.push_back(Field(e, "passed"));
            }
        }
        return passed;
    };
    // Each position's units in the record file, by position and port.
    const auto recorded = [&] {
        std::map<std::string, int> byPosition;
        for (const std::string& line : Lines(ReadText((dir.path() / "units.jsonl").string()))) {
            const auto object = ParseJsonLine(line);
            EXPECT_TRUE(object.has_value()) << line;
            if (object) {
                EXPECT_EQ(Field(*object, "result"), "done") << line;
                EXPECT_EQ(Field(*object, "image"), imagePath) << line;
                ++byPosition[Field(*object, "position") + " " + Field(*object, "port")];
            }
        }
        return byPosition;
    };
    for (int run = 0; run < 2; ++run) {
        const std::map<std::string, int> before = recorded();
        CliProcess cli({"--station", file, "--json"});
        ASSERT_TRUE(cli.Started());
        ASSERT_TRUE(cli.WaitUntil(
            [&](const std::string& out) {
                return !unitsOf(out, "1").empty() && !unitsOf(out, "2").empty();
            },
            60s))
            << cli.Out();
        cli.Signal(SIGINT);
        const auto r = cli.Finish(30s);
        EXPECT_EQ(r.exitStatus, 0) << Describe(r);
        // The first unit of a run counts on from the day's records.
        const auto countOf = [&](const std::map<std::string, int>& m, const std::string& key) {
            return m.contains(key) ? m.at(key) : 0;
        };
        EXPECT_EQ(unitsOf(r.out, "1").front(),
                  std::to_string(countOf(before, "1 " + Port(first)) + 1))
            << r.out;
        EXPECT_EQ(unitsOf(r.out, "2").front(),
                  std::to_string(countOf(before, "2 " + Port(second)) + 1))
            << r.out;
    }
    const std::map<std::string, int> after = recorded();
    EXPECT_EQ(after.size(), 2u);
    EXPECT_GE(after.at("1 " + Port(first)), 2);
    EXPECT_GE(after.at("2 " + Port(second)), 2);
}

// A held adapter holds only its own position. The held machine's block
// cannot be written for 13.4 s (100 ms a byte and 100 ms), while its
// neighbour's whole download takes some 3 s at 9600 baud, with a silence
// limit of 3 s: had the held write held the neighbour too, the neighbour
// would have fallen silent. The held unit's record gives the time it
// really took, the wait for its write included.
TEST_F(CliTest, AHeldPortHoldsOnlyItsOwnPosition) {
    const Bytes image = Pattern(3000, 21);
    SimProcess healthy(SimArgs(1, image, {"--baud", "9600"}));
    SimProcess held(SimArgs(1, image, {"--hold-after", "2"}));
    ASSERT_TRUE(healthy.Started());
    ASSERT_TRUE(held.Started());
    const std::string record = (dir.path() / "held.jsonl").string();
    const auto r =
        RunCli({"--type", "1", "--parallel", "--timeout", "3", "--port", Port(held), "--port",
                Port(healthy), "--record", ToolPath(record), WriteImageFile(1, image)});
    EXPECT_EQ(r.exitStatus, 8) << Describe(r);
    std::map<std::string, JsonObject> byPosition;
    for (const std::string& line : Lines(ReadText(record))) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << line;
        byPosition[Field(*object, "position")] = *object;
    }
    ASSERT_EQ(byPosition.size(), 2u) << ReadText(record);
    EXPECT_EQ(Field(byPosition["2"], "result"), "done") << r.out;
    EXPECT_EQ(Field(byPosition["1"], "result"), "port refused") << r.out;
    if (!UnderWine()) {  // Wine times a held write its own way
        EXPECT_GE(std::stod(Field(byPosition["1"], "seconds")), 13.4) << r.out;
    }
    ExpectWholeImage(healthy);
}

// The first Ctrl+C lets the unit under way finish and be recorded, here a
// block-protocol machine that asks for every fourth block twice (17 of its
// 71), on a position of four whose last unit ended with the machine's stop
// frame. Meanwhile a quick position finishes its unit and the positions
// that only wait stop. The run ends with 1, as a --loop run does when a
// unit of it was not done: the stopped one.
TEST_F(CliTest, StationFinishesTheUnitUnderWayOnTheFirstCtrlC) {
    const Bytes image = Pattern(9000, 15);  // 71 blocks
    std::string link;
    const std::string swapped = SwappedPort(link);
    auto stopping =
        std::make_unique<SimProcess>(SimArgs(1, image, {"--stop-at", "3", "--link", link}));
    SimProcess quick(SimArgs(1, image));
    SimProcess silent({"--type", "1", "--silent"});
    ASSERT_TRUE(stopping->Started() && quick.Started() && silent.Started());
    const std::string record = (dir.path() / "station.jsonl").string();
    CliProcess cli({"--type", "1", "--parallel", "--loop", "--json", "--port", swapped, "--port",
                    Port(quick), "--port", Port(silent), "--port", MissingPort(), "--record",
                    ToolPath(record), WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) { return CountEvents(EventsOf(out, "1"), "error") > 0; }, 60s))
        << cli.Out();
    EXPECT_TRUE(Contains(stopping->Stop().lastLine, ", stopped"));
    stopping.reset();
    // Some 6 s a unit at 19200 baud, repeats included.
    SimProcess repeating(
        SimArgs(1, image, {"--repeat-every", "4", "--baud", "19200", "--link", link}));
    ASSERT_TRUE(repeating.Started());
    const auto midDownload = [](const std::string& out) {
        const std::vector<JsonObject> events = EventsOf(out, "1");
        const auto last = std::find_if(events.rbegin(), events.rend(), [](const JsonObject& e) {
            return Field(e, "event") != "progress";
        });
        return last != events.rend() && Field(*last, "event") == "connected" &&
               Field(events.back(), "event") == "progress" &&
               std::stoi(Field(events.back(), "percent")) >= 10 &&
               std::stoi(Field(events.back(), "percent")) <= 60;
    };
    ASSERT_TRUE(cli.WaitUntil(midDownload, 60s)) << cli.Out();
    cli.Signal(SIGINT);
    const auto r = cli.Finish(60s);
    EXPECT_FALSE(r.overdue) << Describe(r);
    EXPECT_EQ(r.exitStatus, 1) << Describe(r);
    EXPECT_EQ(r.err, "");

    std::map<std::string, std::vector<std::string>> results;  // position -> its units' results
    for (const std::string& line : Lines(ReadText(record))) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << line;
        const std::string position = Field(*object, "position");
        results[position].push_back(Field(*object, "result"));
        EXPECT_EQ(Field(*object, "port"), position == "1" ? swapped : Port(quick)) << line;
        if (position == "1" && Field(*object, "result") == "done") {
            EXPECT_EQ(Field(*object, "repeats"), "17") << line;
        }
    }
    // Every unit of position 1 ended with the stop frame but the last,
    // the one under way at the Ctrl+C.
    const std::vector<std::string>& first = results["1"];
    ASSERT_GE(first.size(), 2u) << ReadText(record);
    EXPECT_EQ(first.back(), "done") << ReadText(record);
    EXPECT_EQ(std::count(first.begin(), first.end(), "stopped"), std::ssize(first) - 1)
        << ReadText(record);
    EXPECT_FALSE(results["2"].empty()) << ReadText(record);
    for (const std::string& result : results["2"]) {
        EXPECT_EQ(result, "done") << ReadText(record);
    }
    EXPECT_EQ(results.size(), 2u) << "only the positions with a machine that answered record";
    ExpectWholeImage(repeating);
    ExpectWholeImage(quick);
}

// SIGTERM stops every position at once: each unit under way is recorded as
// interrupted.
TEST_F(CliTest, StationStopsEveryPositionAtOnceOnSigterm) {
    const Bytes image = Pattern(6000, 12);
    SimProcess first(SimArgs(1, image, {"--baud", "9600"}));
    SimProcess second(SimArgs(1, image, {"--baud", "9600"}));
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());
    const std::string record = (dir.path() / "station.jsonl").string();
    CliProcess cli({"--type", "1", "--parallel", "--loop", "--json", "--port", Port(first),
                    "--port", Port(second), "--record", ToolPath(record),
                    WriteImageFile(1, image)});
    ASSERT_TRUE(cli.Started());
    ASSERT_TRUE(cli.WaitUntil(
        [](const std::string& out) {
            return CountEvents(EventsOf(out, "1"), "progress") > 1 &&
                   CountEvents(EventsOf(out, "2"), "progress") > 1;
        },
        30s))
        << cli.Out();
    cli.Signal(SIGTERM);
    const auto r = cli.Finish(10s);
    EXPECT_EQ(r.exitStatus, 143) << Describe(r);
    const std::vector<std::string> records = Lines(ReadText(record));
    ASSERT_EQ(records.size(), 2u) << ReadText(record);
    std::set<std::string> positions;
    for (const std::string& line : records) {
        const auto object = ParseJsonLine(line);
        ASSERT_TRUE(object.has_value()) << line;
        EXPECT_EQ(Field(*object, "result"), "interrupted") << line;
        positions.insert(Field(*object, "position"));
    }
    EXPECT_EQ(positions, (std::set<std::string>{"1", "2"}));
}

// --expect-sha256 pins the image: another file is refused before any port
// is opened, with both hashes.
TEST_F(CliTest, ExpectSha256RefusesAnotherImage) {
    const Bytes image = Pattern(1000, 13);
    const std::string file = WriteImageFile(1, image);
    const std::string actual = Sha256Hex(StoredImage(1, image));
    std::string other = actual;
    other[0] = other[0] == '0' ? '1' : '0';
    for (const bool same : {true, false}) {
        SCOPED_TRACE(same ? "the same image" : "another image");
        SimProcess sim(SimArgs(1, image));
        ASSERT_TRUE(sim.Started());
        std::string pinned = same ? actual : other;
        std::transform(pinned.begin(), pinned.end(), pinned.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const auto r =
            RunCli({"--type", "1", "--expect-sha256", pinned, "--port", Port(sim), file});
        if (same) {
            EXPECT_EQ(r.exitStatus, 0) << Describe(r);
            ExpectWholeImage(sim);
        } else {
            EXPECT_EQ(r.exitStatus, 2) << Describe(r);
            EXPECT_TRUE(Contains(r.err, actual) && Contains(r.err, other)) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(Contains(sim.Stop().lastLine, ": received 0 bytes in 0 blocks"));
        }
    }
}

}  // namespace
