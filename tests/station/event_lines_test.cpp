// The record file's event lines: one flat JSON object each, and a settings
// change told key by key, the password only as changed.
#include "station/event_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/json_object.h"

namespace {

StationSettings Base() {
    StationSettings s;
    s.type = 1;
    s.image = "/srv/fw/a.UPL";
    s.sha256 = std::string(64, 'a');
    s.record = "/var/log/units.jsonl";
    s.ports = {"COM1", "COM2"};
    return s;
}

std::vector<JsonField> FieldsOf(const std::string& line) {
    std::vector<JsonField> fields;
    EXPECT_TRUE(line.ends_with("}\n")) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    EXPECT_TRUE(ReadFlatJsonObject(line, fields)) << line;
    return fields;
}

TEST(StationEventLines, AnEventIsOneFlatObjectLedByTimeStationAndEvent) {
    const std::string line = EventLine("line3-pc", kEventSettingsChanged,
                                       {{"changed", "image"}, {"image_old", "C:\\fw\\\"a\".UPL"}});
    const std::vector<JsonField> fields = FieldsOf(line);
    ASSERT_EQ(fields.size(), 5u) << line;
    EXPECT_EQ(fields[0].key, "time");
    // 2026-12-11T08:15:00Z, as the units' records give it.
    const std::string& time = fields[0].text;
    ASSERT_EQ(time.size(), 20u) << time;
    EXPECT_EQ(time[10], 'T');
    EXPECT_EQ(time[19], 'Z');
    EXPECT_EQ(fields[1].key, "station");
    EXPECT_EQ(fields[1].text, "line3-pc");
    EXPECT_EQ(fields[2].key, "event");
    EXPECT_EQ(fields[2].text, "settings changed");
    EXPECT_EQ(fields[4].key, "image_old");
    EXPECT_EQ(fields[4].text, "C:\\fw\\\"a\".UPL") << "escaped and read back";
    for (const JsonField& f : fields) {
        EXPECT_EQ(f.kind, JsonField::Kind::String) << f.key;
    }
}

TEST(StationEventLines, SettingsChangesNameEachKeyFromWhatToWhat) {
    const StationSettings base = Base();
    struct Case {
        const char* name;
        StationSettings after;
        std::vector<EventDetail> expected;
    };
    std::vector<Case> cases;
    cases.push_back({"nothing", base, {}});
    {
        StationSettings s = base;
        s.ports = {"COM2", "COM3", "COM4"};
        s.timeoutSeconds = 2.5;
        cases.push_back({"ports and the timeout",
                         s,
                         {{"changed", "port timeout"},
                          {"port_old", "COM1 COM2"},
                          {"port_new", "COM2 COM3 COM4"},
                          {"timeout_old", "10"},
                          {"timeout_new", "2.5"}}});
    }
    {
        StationSettings s = base;
        s.type = 2;
        s.image = "/srv/fw/b.UPL";
        s.sha256.clear();
        s.record.clear();
        cases.push_back({"keys that are gone",
                         s,
                         {{"changed", "type image sha256 record"},
                          {"type_old", "1"},
                          {"type_new", "2"},
                          {"image_old", "/srv/fw/a.UPL"},
                          {"image_new", "/srv/fw/b.UPL"},
                          {"sha256_old", std::string(64, 'a')},
                          {"sha256_new", ""},
                          {"record_old", "/var/log/units.jsonl"},
                          {"record_new", ""}}});
    }
    {
        StationSettings s = base;
        s.limit = 500;
        s.password = "pbkdf2-sha256$1000$" + std::string(16, '1') + "$" + std::string(64, '2');
        cases.push_back({"a limit and a password",
                         s,
                         {{"changed", "limit password"},
                          {"limit_old", ""},
                          {"limit_new", "500"},
                          {"password", "changed"}}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SettingsChanges(base, c.after), c.expected);
    }
}

// However the password changes, its hash is never in the line.
TEST(StationEventLines, APasswordChangeNeverGivesTheHash) {
    StationSettings before = Base(), after = Base();
    before.password = "pbkdf2-sha256$1000$" + std::string(16, '1') + "$" + std::string(64, '2');
    after.password = "pbkdf2-sha256$2000$" + std::string(16, '3') + "$" + std::string(64, '4');
    for (const auto& [from, to] :
         {std::pair{before, after}, std::pair{before, Base()}, std::pair{Base(), after}}) {
        const std::string line = EventLine("pc", kEventSettingsChanged, SettingsChanges(from, to));
        EXPECT_NE(line.find("\"password\":\"changed\""), std::string::npos) << line;
        EXPECT_EQ(line.find("pbkdf2"), std::string::npos) << line;
        EXPECT_EQ(line.find(std::string(16, '1')), std::string::npos) << line;
        EXPECT_EQ(line.find(std::string(16, '3')), std::string::npos) << line;
    }
}

}  // namespace
