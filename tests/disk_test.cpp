// The disk layer (disk/disk_file.h) and the file class on it, on real files
// in a folder of each test's own: names in UTF-8 become the system's own
// names, a file is read while others append to it, appends land whole at
// the end, and what cannot be opened is told apart from what is not there.
// Built into the core's tests and into the Windows test runner, which runs
// it under Wine, where every name goes through UTF-16.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/disk_file.h"
#include "framework/afxfile.h"
#include "tests/test_data.h"

namespace {

namespace fs = std::filesystem;

// A path as the layer takes it, in UTF-8; the test's own side goes
// through std::filesystem, which knows the system's encoding.
std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(Utf8(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The whole file, read through the layer.
std::string ReadAll(const std::string& path) {
    DiskFile file;
    DiskError error;
    EXPECT_EQ(file.OpenToRead(path, error), DiskFile::Opened::Yes) << error.Message();
    std::string text;
    char buffer[7];  // small, so that a file takes several reads
    for (long long n; (n = file.Read(buffer, sizeof buffer, error)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

struct NameCase {
    const char* name;
    const char8_t* folder;  // a folder of that name, and in it the file
    const char8_t* file;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class DiskNames : public ::testing::TestWithParam<NameCase> {};

// A folder and a file named outside ASCII (outside any one ANSI code page,
// and beyond UTF-16's first plane) are made, appended to, listed and read
// back under exactly the names given: nothing on the way reads the UTF-8
// in another encoding.
TEST_P(DiskNames, AreTheSystemsOwnNames) {
    const NameCase& c = GetParam();
    TempDir dir{"disk"};
    const fs::path folder = dir.path() / fs::path(c.folder);
    ASSERT_TRUE(fs::create_directory(folder));
    const std::string path = Utf8(folder / fs::path(c.file));

    DiskFile records;
    DiskError error;
    ASSERT_TRUE(records.OpenToAppend(path, error)) << error.Message();
    ASSERT_TRUE(records.Append("one\n", error)) << error.Message();
    ASSERT_TRUE(records.Flush(error)) << error.Message();
    EXPECT_EQ(NamesIn(folder), std::vector<std::string>{Utf8(fs::path(c.file))});
    EXPECT_EQ(ReadAll(path), "one\n");

    // The file class reads it, from the start again after a first read.
    CFile image(path, CFile::modeRead | CFile::typeBinary);
    char start[3] = {};
    ASSERT_EQ(image.Read(start, sizeof start), 3u);
    image.SeekToBegin();
    char whole[16] = {};
    EXPECT_EQ(image.Read(whole, sizeof whole), 4u);
    EXPECT_EQ(std::string(whole), "one\n");
}

INSTANTIATE_TEST_SUITE_P(Scripts, DiskNames,
                         ::testing::Values(NameCase{"Cyrillic", u8"Линия 3", u8"записи.jsonl"},
                                           NameCase{"GreekAndLatin", u8"Γραμμή é", u8"ñandú.UPL"},
                                           NameCase{"BeyondTheFirstPlane", u8"line 𝄞",
                                                    u8"units 😀.jsonl"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two writers append line after line to a file that already holds one; a
// reader opened meanwhile reads what is there: every line whole, in the
// order written, after the old one. (A writer that wrote where it stood
// rather than at the end would overwrite the other's lines; one that held
// the file to itself would keep the reader out.)
TEST(DiskFileTest, AppendsLandWholeAtTheEndWhileOthersReadAndAppend) {
    TempDir dir{"disk"};
    const std::string path = Utf8(dir.path() / "units.jsonl");
    DiskError error;
    {
        DiskFile first;
        ASSERT_TRUE(first.OpenToAppend(path, error)) << error.Message();
        ASSERT_TRUE(first.Append("old\n", error)) << error.Message();
    }
    DiskFile a, b;
    ASSERT_TRUE(a.OpenToAppend(path, error)) << error.Message();
    ASSERT_TRUE(b.OpenToAppend(path, error)) << error.Message();
    for (const char* line : {"a1\n", "b1\n", "a2\n", "b2\n"}) {
        DiskFile& writer = line[0] == 'a' ? a : b;
        ASSERT_TRUE(writer.Append(line, error)) << error.Message();
        ASSERT_TRUE(writer.Flush(error)) << error.Message();
    }
    EXPECT_EQ(ReadAll(path), "old\na1\nb1\na2\nb2\n");

    // A reader that holds the file open does not stop the writers.
    DiskFile reader;
    ASSERT_EQ(reader.OpenToRead(path, error), DiskFile::Opened::Yes) << error.Message();
    ASSERT_TRUE(a.Append("a3\n", error)) << error.Message();
    std::string seen(64, '\0');
    const long long n = reader.Read(seen.data(), seen.size(), error);
    ASSERT_GE(n, 0) << error.Message();
    seen.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(seen, "old\na1\nb1\na2\nb2\na3\n");
}

// What is not there is Missing, whether the file or a folder on its way;
// a folder is there but is no file to read. Every failure names the
// operation, the path as given and a reason.
TEST(DiskFileTest, MissingIsToldApartFromRefused) {
    TempDir dir{"disk"};
    const struct {
        const char* what;
        fs::path path;
        DiskFile::Opened opened;
    } cases[] = {
        {"no such file", dir.path() / "none.UPL", DiskFile::Opened::Missing},
        {"no such folder", dir.path() / "none" / "a.UPL", DiskFile::Opened::Missing},
        {"a folder", dir.path(), DiskFile::Opened::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Utf8(c.path);
        DiskFile file;
        DiskError error;
        EXPECT_EQ(file.OpenToRead(path, error), c.opened);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(error.operation.empty());
        EXPECT_EQ(error.path, path);
        EXPECT_FALSE(error.reason.empty());
        EXPECT_EQ(error.Message(), error.operation + " " + path + ": " + error.reason);

        // The file class raises the same failure, in the same parts.
        try {
            CFile image(path, CFile::modeRead | CFile::typeBinary);
            ADD_FAILURE() << "opened";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.Message(), error.Message());
        }
    }
    // Appending makes a file, but not the folder it would be in.
    DiskFile records;
    DiskError error;
    EXPECT_FALSE(records.OpenToAppend(Utf8(dir.path() / "none" / "units.jsonl"), error));
    EXPECT_EQ(error.operation, "opening");
    EXPECT_FALSE(fs::exists(dir.path() / "none"));
}

}  // namespace
