// The station file: its text read and written, and the file on the disk.
#include "station/station_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/station/station_test_folder.h"

namespace {

const char* const kSha = "9b7a178935852f0d391e73aa7cc5ffbeb0a4c184f3903000daee6a676a5dec54";
// A supervisor password's hash as the file keeps it.
const std::string kPassword =
    "pbkdf2-sha256$600000$5f1c0a9e3b7d4c2a8e6f1b3d5c7a9e0b$"
    "9e0b8f1a2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f6071829304a5b6c7";

StationSettings Settings(int type, std::string image, std::vector<std::string> ports,
                         std::string sha256 = "", std::string record = "",
                         double timeout = kDefaultTimeoutSeconds) {
    StationSettings s;
    s.type = type;
    s.image = std::move(image);
    s.sha256 = std::move(sha256);
    s.record = std::move(record);
    s.ports = std::move(ports);
    s.timeoutSeconds = timeout;
    return s;
}

std::string PortLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "port = COM" + std::to_string(i) + "\n";
    }
    return text;
}

StationSettings WithPassword(StationSettings s, std::string password) {
    s.password = std::move(password);
    return s;
}

std::vector<std::string> ComPorts(int count) {
    std::vector<std::string> ports;
    for (int i = 1; i <= count; ++i) {
        ports.push_back("COM" + std::to_string(i));
    }
    return ports;
}

TEST(StationFileTest, ReadsWhatPeopleWrite) {
    struct Case {
        const char* name;
        std::string text;
        StationSettings expected;
    };
    const Case cases[] = {
        {"every key",
         "# a comment; blank lines are ignored\n"
         "type = 1\n"
         "image = /srv/firmware/FIRMWARE.UPL\n"
         "sha256 = " +
             std::string(kSha) +
             "\n"
             "record = /var/log/station/units.jsonl\n"
             "port = serial:FT1A2B3C\n"
             "port = location:1-1.4\n"
             "port = /dev/ttyUSB3\n"
             "timeout = 10\n",
         Settings(1, "/srv/firmware/FIRMWARE.UPL",
                  {"serial:FT1A2B3C", "location:1-1.4", "/dev/ttyUSB3"}, kSha,
                  "/var/log/station/units.jsonl", 10)},
        {"CRLF, a byte-order mark, no newline at the end",
         "\xEF\xBB\xBFtype = 2\r\nimage = a.UPL\r\n\r\nport = COM3\r\ntimeout = 2.5",
         Settings(2, "a.UPL", {"COM3"}, "", "", 2.5)},
        {"ports kept as written, however they are spelt",
         "type = 1\nimage = a\nport = com21\nport = Serial:ft1a\nport = \\\\.\\com3\n",
         Settings(1, "a", {"com21", "Serial:ft1a", "\\\\.\\com3"})},
        {"Windows names, blanks, '=' and '#' in values, tabs around",
         "\t type\t=0 \n"
         "image =   C:\\fw\\a b.UPL  \n"
         "record=D:\\logs\\x=y #1.jsonl\n"
         "  # an indented comment\n"
         "port = \\\\.\\COM17\n"
         "port = COM3\n"
         "port = #4\n",
         Settings(0, "C:\\fw\\a b.UPL", {"\\\\.\\COM17", "COM3", "#4"}, "",
                  "D:\\logs\\x=y #1.jsonl")},
        {"sha256 in capitals, kept in lower case; UTF-8 in a name",
         "type = 1\nimage = /srv/Ürün/é.UPL\nport = COM1\nsha256 = "
         "9B7A178935852F0D391E73AA7CC5FFBEB0A4C184F3903000DAEE6A676A5DEC54\n",
         Settings(1, "/srv/Ürün/é.UPL", {"COM1"}, kSha)},
        {"sixteen ports, in order", "type = 1\nimage = a\n" + PortLines(16),
         Settings(1, "a", ComPorts(16))},
        {"a timeout in exponent form", "type = 1\nimage = a\nport = b\ntimeout = 1.5e1\n",
         Settings(1, "a", {"b"}, "", "", 15)},
        {"a password's hash, its hex in capitals kept in lower case",
         "type = 1\nimage = a\nport = b\npassword = pbkdf2-sha256$600000$"
         "5F1C0A9E3B7D4C2A8E6F1B3D5C7A9E0B$"
         "9E0B8F1A2C3D4E5F60718293A4B5C6D7E8F90A1B2C3D4E5F6071829304A5B6C7\n",
         WithPassword(Settings(1, "a", {"b"}), kPassword)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StationSettings s;
        std::string error;
        ASSERT_TRUE(ParseStationFile(c.text, s, error)) << error;
        EXPECT_EQ(s, c.expected);
        EXPECT_EQ(s.ports, c.expected.ports);
    }
}

TEST(StationFileTest, RefusesWhatItCannotReadNamingTheLine) {
    const std::string head = "type = 1\nimage = a.UPL\n";
    struct Case {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"type = 1\nimage = a\nport = b\nprot = c\n", "line 4: unknown key \"prot\""},
        {"Type = 1\nimage = a\nport = b\n", "line 1: unknown key \"Type\""},
        {"# head\ntype = 3\nimage = a\nport = b\n", "line 2: type takes 0, 1 or 2"},
        {"type = 1.0\n", "line 1: type takes 0, 1 or 2"},
        {"type = 01\n", "line 1: type takes 0, 1 or 2"},
        {"type =\n", "line 1: type takes 0, 1 or 2"},
        {"image = a\nport = b\n", "no type given"},
        {"", "no type given"},
        {"\xEF\xBB\xBF\r\n# only a comment\r\n", "no type given"},
        {"type = 1\nport = b\n", "no image given"},
        {head, "no port given"},
        {head + PortLines(17), "17 ports: a station has at most 16"},
        {head + "image = b.UPL\n", "line 3: image is given twice (first on line 2)"},
        {"type = 1\r\ntype = 1\r\n", "line 2: type is given twice (first on line 1)"},
        {head + "port = a\nport = b\nport = a\n",
         "line 5: port a is already position 1, as a on line 3"},
        {head + "port COM3\n", "line 3: not \"key = value\" (no \"=\")"},
        {head + " = COM3\n", "line 3: no key before \"=\""},
        {head + "image =\n", "line 3: image is given twice (first on line 2)"},
        {"type = 1\nimage = \t\n", "line 2: image takes a name, not nothing"},
        {head + "port =\n", "line 3: port takes a name, not nothing"},
        {head + "sha256 = " + std::string(kSha).substr(1) + "\n",
         "line 3: sha256 takes 64 hex digits"},
        {head + "sha256 = " + std::string(kSha).substr(1) + "g\n",
         "line 3: sha256 takes 64 hex digits"},
        {head + "timeout = 0\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = -5\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = 10 s\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = inf\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = nan\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = 1e999\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = 0.001\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "timeout = 3601\n", "line 3: timeout takes a number of seconds from 1 to 3600"},
        {head + "limit = 0\n", "line 3: limit takes a whole number of units from 1 to 10000000"},
        {head + "limit = 1.5\n", "line 3: limit takes a whole number of units from 1 to 10000000"},
        {head + "limit = -3\n", "line 3: limit takes a whole number of units from 1 to 10000000"},
        {head + "limit = 10000001\n",
         "line 3: limit takes a whole number of units from 1 to 10000000"},
        {head + "limit = 500\nport = COM1\n",
         "line 3: limit needs a record file, which keeps the count across restarts"},
        {head + "port = p\nrecord = u\nserial_first = 1\nserial_last = 9\nserial_offset = 0\n",
         "serial numbers need serial_first, serial_last, serial_offset and serial_format"},
        {head + "port = p\nserial_first = 1\nserial_last = 9\nserial_offset = 0\n"
                "serial_format = u16le\n",
         "serial numbers need a record file, beside which the next number is kept"},
        {head + "port = p\nrecord = u\nserial_first = 1\nserial_last = 1000\n"
                "serial_offset = 0x10\nserial_format = dec:3\n",
         "line 6: the last serial number 1000 does not fit dec:3 (at most 999)"},
        {head + "serial_step = 0\n", "line 3: serial_step takes a whole number from 1"},
        {head + "require_scan = maybe\n", "line 3: require_scan takes yes or no"},
        {head + "serial_first = -1\n", "line 3: serial_first takes a whole number"},
        {head + "serial_first = 99999999999999999999\n",
         "line 3: serial_first takes a whole number"},
        {head + "serial_offset = 0x\n",
         "line 3: serial_offset takes a byte offset (decimal, or hex after 0x)"},
        {head + "serial_offset = 4294967296\n",
         "line 3: serial_offset takes a byte offset (decimal, or hex after 0x)"},
        {head + "serial_format = dec\n",
         "line 3: serial_format takes dec:W or hex:W (W from 1 to 20), u16le, u16be, u32le or "
         "u32be"},
        {head + "port = COM\xFF\n", "line 3: not UTF-8 text"},
        {head + "port = \xC0\xAF\n", "line 3: not UTF-8 text"},      // an overlong "/"
        {head + "port = \xED\xA0\x80\n", "line 3: not UTF-8 text"},  // a surrogate
        {head + "port = \xE2\x82\n", "line 3: not UTF-8 text"},      // cut short
        {head + "password = secret\nport = COM1\n",
         "line 3: password is not pbkdf2-sha256$ITERATIONS$SALT$HASH"},
        {head + "port = COM1\npassword =\n",
         "line 4: password is not pbkdf2-sha256$ITERATIONS$SALT$HASH"},
        {head + "password = pbkdf2-sha256$100$5f1c0a9e3b7d4c2a$" + std::string(64, '0') + "\n",
         "line 3: password has iterations that are not a whole number from 1000 to 10000000"},
        {head + "password = pbkdf2-sha256$1000$5f1c$" + std::string(64, '0') + "\n",
         "line 3: password has a salt that is not 16 to 128 hex digits"},
        {head + "password = pbkdf2-sha256$1000$5f1c0a9e3b7d4c2a$" + std::string(63, '0') + "\n",
         "line 3: password has a hash that is not 64 hex digits"},
        {head + "password = " + kPassword + "\nport = COM1\npassword = " + kPassword + "\n",
         "line 5: password is given twice (first on line 3)"},
        {head + "port = CO\x01M3\n", "line 3: a control character"},
        {head + "port = COM3\rport = COM4\n", "line 3: a control character"},
        {head + std::string("port = COM3\0", 12) + "\n", "line 3: a control character"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const StationSettings before = Settings(2, "kept", {"kept"});
        StationSettings s = before;
        std::string error;
        EXPECT_FALSE(ParseStationFile(c.text, s, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(s, before);  // untouched on failure
    }
}

// One port, however it is spelt, is refused for a second position, naming
// both spellings and both lines. These tests name ports by Windows' rules
// (the in-memory backend's, serial/port_names.h) on every machine.
TEST(StationFileTest, APortIsRefusedTwiceHoweverItIsSpelt) {
    const std::string head = "type = 1\nimage = a.UPL\n";
    struct Case {
        std::string ports;
        const char* error;
    };
    const Case cases[] = {
        {"port = COM3\nport = com3\n",
         "line 4: port com3 is already position 1, as COM3 on line 3"},
        {"port = \\\\.\\COM3\nport = COM4\n# the third\nport = COM3\n",
         "line 6: port COM3 is already position 1, as \\\\.\\COM3 on line 3"},
        {"port = COM21\nport = COM22\nport = \\\\.\\com21\n",
         "line 5: port \\\\.\\com21 is already position 1, as COM21 on line 3"},
        {"port = COM1\nport = serial:ft1a\nport = SERIAL:FT1A\n",
         "line 5: port SERIAL:FT1A is already position 2, as serial:ft1a on line 4"},
        {"port = location:Port_#0004.Hub_#0001\nport = Location:PORT_#0004.HUB_#0001\n",
         "line 4: port Location:PORT_#0004.HUB_#0001 is already position 1, as "
         "location:Port_#0004.Hub_#0001 on line 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ports);
        StationSettings s;
        std::string error;
        EXPECT_FALSE(ParseStationFile(head + c.ports, s, error));
        EXPECT_EQ(error, c.error);
    }

    // Names alike but of other ports: each a position, kept as written.
    const std::vector<std::string> ports = {"COM1",         "COM10",         "COM01",
                                            "\\\\.\\COM11", "serial:COM1",   "serial:FT1A",
                                            "serial:FT1A2", "location:FT1A", "location:COM1"};
    std::string text = head;
    for (const std::string& port : ports) {
        text += "port = " + port + "\n";
    }
    StationSettings s;
    std::string error;
    ASSERT_TRUE(ParseStationFile(text, s, error)) << error;
    EXPECT_EQ(s.ports, ports);
}

TEST(StationFileTest, FormattedSettingsReadBackTheSame) {
    const StationSettings cases[] = {
        Settings(1, "/srv/firmware/FIRMWARE.UPL", {"serial:FT1A2B3C", "location:1-1.4"}, kSha,
                 "/var/log/station/units.jsonl", 10),
        Settings(0, "C:\\fw\\a b=c #1.UPL", {"\\\\.\\COM17"}, "", "D:\\logs\\u n.jsonl", 1.1),
        Settings(2, "é.UPL", ComPorts(16), "", "", 3599.999),
        [] {
            StationSettings s = Settings(1, "a.UPL", {"COM1"}, "", "units.jsonl");
            s.limit = 10000000;
            s.serial = {.enabled = true,
                        .first = 7,
                        .last = 18446744073709551614u,
                        .step = 1,
                        .offset = 0xFFFFFFFF,
                        .format = SerialFormat::Decimal,
                        .width = 20};
            return s;
        }(),
        [] {
            StationSettings s = Settings(2, "a.UPL", {"COM1"}, "", "units.jsonl");
            s.serial = {.enabled = true,
                        .first = 1001,
                        .last = 1999,
                        .step = 2,
                        .offset = 16,
                        .format = SerialFormat::U16Be,
                        .width = 2};
            return s;
        }(),
        WithPassword(Settings(2, "a.UPL", {"COM1", "COM2"}, kSha), kPassword),
    };
    for (const StationSettings& s : cases) {
        SCOPED_TRACE(s.image);
        const std::string text = FormatStationFile(s);
        EXPECT_TRUE(text.starts_with("# ")) << text;
        StationSettings back;
        std::string error;
        ASSERT_TRUE(ParseStationFile(text, back, error)) << error << "\n" << text;
        EXPECT_EQ(back, s);
    }
}

using StationFileDiskTest = StationFolderTest;

TEST_F(StationFileDiskTest, WriteReplacesTheFileWholeAndLeavesNothingElse) {
    Put("station.txt", "type = 0\nimage = old.EUP\nport = COM1\n# a longer old file\n");
    const StationSettings s =
        Settings(1, PathOf("fw 3/a b.UPL"), {"serial:FT1A2B3C", "COM4"},
                 "9B7A178935852F0D391E73AA7CC5FFBEB0A4C184F3903000DAEE6A676A5DEC54");
    std::string error;
    ASSERT_TRUE(WriteStationFile(PathOf("station.txt"), s, error)) << error;
    EXPECT_EQ(Names(), std::vector<std::string>{"station.txt"});
    EXPECT_EQ(Contents("station.txt"), FormatStationFile(s));

    StationSettings back;
    ASSERT_TRUE(ReadStationFile(PathOf("station.txt"), back, error)) << error;
    StationSettings expected = s;
    expected.sha256 = kSha;
    EXPECT_EQ(back, expected);

    // A new file where there was none.
    ASSERT_TRUE(WriteStationFile(PathOf("new.txt"), s, error)) << error;
    EXPECT_EQ(Names(), (std::vector<std::string>{"new.txt", "station.txt"}));
}

TEST_F(StationFileDiskTest, WriteRefusesWhatWouldNotReadBack) {
    Put("station.txt", "kept");
    const StationSettings refused[] = {
        Settings(1, " a.UPL", {"COM1"}),  // a blank the file cannot keep
        Settings(1, "a.UPL", {"COM1 "}),
        Settings(1, "a\nport = COM9", {"COM1"}),  // would add a position
        Settings(3, "a.UPL", {"COM1"}),
        Settings(1, "a.UPL", {}),
        Settings(1, "a.UPL", {"COM1"}, "abc"),
        WithPassword(Settings(1, "a.UPL", {"COM1"}), "secret"),
        WithPassword(Settings(1, "a.UPL", {"COM1"}), kPassword + "\nport = COM9"),
    };
    for (const StationSettings& s : refused) {
        SCOPED_TRACE(s.image + " " + (s.ports.empty() ? "" : s.ports[0]));
        std::string error;
        EXPECT_FALSE(WriteStationFile(PathOf("station.txt"), s, error));
        EXPECT_TRUE(error.starts_with("writing " + PathOf("station.txt") + ": ")) << error;
        EXPECT_EQ(Contents("station.txt"), "kept");
        EXPECT_EQ(Names(), std::vector<std::string>{"station.txt"});
    }
    std::string error;
    EXPECT_FALSE(WriteStationFile(PathOf("no-such-folder/station.txt"),
                                  Settings(1, "a.UPL", {"COM1"}), error));
    EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
    EXPECT_EQ(Names(), std::vector<std::string>{"station.txt"});
}

TEST_F(StationFileDiskTest, ReadRefusesWhatIsNotASmallRegularFile) {
    const std::string good = "type = 1\nimage = a\nport = b\n";
    // Exactly the limit is read; one byte more is refused unread.
    std::string full = good;
    while (full.size() < kMaxStationFileBytes) {
        full +=
            std::string(std::min<std::size_t>(80, kMaxStationFileBytes - full.size()) - 1, '#') +
            "\n";
    }
    ASSERT_EQ(full.size(), kMaxStationFileBytes);
    StationSettings s;
    std::string error;
    EXPECT_TRUE(ReadStationFile(Put("full.txt", full), s, error)) << error;
    EXPECT_EQ(s, Settings(1, PathOf("a"), {"b"}));

    EXPECT_FALSE(ReadStationFile(Put("large.txt", full + "\n"), s, error));
    EXPECT_EQ(error, "reading " + PathOf("large.txt") + ": larger than 64 KiB, not a station file");

    EXPECT_FALSE(ReadStationFile(PathOf("missing.txt"), s, error));
    EXPECT_TRUE(error.starts_with("opening " + PathOf("missing.txt") + ": ")) << error;

    std::filesystem::create_directory(m_folder / "folder");
    EXPECT_FALSE(ReadStationFile(PathOf("folder"), s, error));
    EXPECT_NE(error.find(PathOf("folder")), std::string::npos) << error;

    EXPECT_FALSE(ReadStationFile(Put("bad.txt", good + "prot = c\n"), s, error));
    EXPECT_EQ(error, PathOf("bad.txt") + ": line 4: unknown key \"prot\"");
    EXPECT_EQ(s, Settings(1, PathOf("a"), {"b"}));
}

// An image or record file named without its folder is the station file's
// neighbour, whichever folder the station was started from (a desktop
// icon's, a terminal's); an absolute name stays as it is.
TEST_F(StationFileDiskTest, RelativeNamesAreTakenFromTheStationFilesFolder) {
    std::filesystem::create_directory(m_folder / "line 3");
    Put("line 3/st.station", "type = 1\nimage = fw/a.UPL\nrecord = units.jsonl\nport = COM1\n");
    Put("abs.station", "type = 1\nimage = /srv/a.UPL\nport = COM1\n");
    const std::filesystem::path was = std::filesystem::current_path();
    for (const std::filesystem::path& from : {m_folder, m_folder / "line 3"}) {
        SCOPED_TRACE(from.string());
        std::filesystem::current_path(from);
        StationSettings s;
        std::string error;
        const std::string named =
            std::filesystem::relative(m_folder / "line 3" / "st.station", from).string();
        EXPECT_TRUE(ReadStationFile(named, s, error)) << error;
        EXPECT_EQ(s.image, PathOf("line 3/fw/a.UPL"));
        EXPECT_EQ(s.record, PathOf("line 3/units.jsonl"));
        EXPECT_TRUE(ReadStationFile(PathOf("abs.station"), s, error)) << error;
        EXPECT_EQ(s.image, "/srv/a.UPL");
        EXPECT_EQ(s.record, "");
    }
    std::filesystem::current_path(was);
}

// For a tool that writes the file back: the names as the file writes them,
// which the file keeps when written again.
TEST_F(StationFileDiskTest, ReadAsWrittenKeepsNamesWithoutTheirFolder) {
    const std::string path =
        Put("st.station", "type = 1\nimage = fw/a.UPL\nrecord = units.jsonl\nport = COM1\n");
    StationSettings s;
    std::string error;
    ASSERT_TRUE(ReadStationFileAsWritten(path, s, error)) << error;
    EXPECT_EQ(s.image, "fw/a.UPL");
    EXPECT_EQ(s.record, "units.jsonl");
    s.password = kPassword;
    ASSERT_TRUE(WriteStationFile(path, s, error)) << error;
    StationSettings back;
    ASSERT_TRUE(ReadStationFile(path, back, error)) << error;
    EXPECT_EQ(back.image, PathOf("fw/a.UPL"));
    EXPECT_EQ(back.password, kPassword);

    EXPECT_FALSE(ReadStationFileAsWritten(Put("bad.station", "type = 1\nprot = c\n"), s, error));
    EXPECT_EQ(error, PathOf("bad.station") + ": line 2: unknown key \"prot\"");
}

}  // namespace
