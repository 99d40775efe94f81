// Load File: reading, cutting, unscrambling, and what a failed read leaves.
#include "tests/test_support.h"

#include <fstream>

#include "image/stored_image.h"

TEST_F(DialogTest, FileDialogIsPreparedForTheMachineType) {
    std::string filter, initial, defExt = "unset";
    DWORD flags = 0;
    headless::ScriptFileDialog([&](const CFileDialog& d) {
        filter = d.m_filter;
        initial = d.m_fileName;
        defExt = d.m_defExt;
        flags = d.m_flags;
        return std::nullopt;  // Cancel
    });
    Press(IDC_LOAD_FILE);
    EXPECT_EQ(filter, "*.EUP");
    EXPECT_EQ(initial, "*.EUP");
    EXPECT_EQ(defExt, "");
    EXPECT_EQ(flags, 6u);
    // Cancel changes nothing but the status text.
    EXPECT_EQ(Status(), "Open File");
    EXPECT_EQ(Text(IDC_LENGTH), "0");
    ExpectControls(false, false);

    SelectMachineType(1);
    headless::ScriptFileDialog([&](const CFileDialog& d) {
        filter = d.m_filter;
        return std::nullopt;
    });
    Press(IDC_LOAD_FILE);
    EXPECT_EQ(filter, "*.UPL");
}

TEST_F(DialogTest, LoadShowsTheLengthAndCutsAt131072) {
    struct Case {
        std::size_t fileSize;
        std::uint32_t length;
    };
    for (const Case c : {Case{300, 300}, Case{131072, 131072}, Case{200000, 131072}, Case{0, 0}}) {
        const Bytes file = Pattern(c.fileSize, static_cast<unsigned>(c.fileSize));
        Load(file);
        EXPECT_EQ(dlg->GetImageLength(), c.length);
        EXPECT_EQ(Text(IDC_LENGTH), std::to_string(c.length));
        EXPECT_EQ(Text(IDC_SEND_LENGTH), "0");
        EXPECT_TRUE(std::equal(file.begin(), file.begin() + c.length, dlg->GetImage()));
        EXPECT_EQ(Control(IDC_PROGRESS, PBM_GETRANGE, FALSE),
                  static_cast<LRESULT>(c.length & 0xFFFF));
        ExpectControls(true, false);  // an empty file is accepted too
    }
}

TEST_F(DialogTest, UnreadableFileLeavesEverythingAsItWas) {
    Load(Pattern(300));
    Press(IDC_PROGRAM);  // Program disabled, machine type disabled
    const auto notAFile = dir.path() / "folder.EUP";
    std::filesystem::create_directories(notAFile);
    for (const auto& path : {notAFile, dir.path() / "missing.EUP"}) {
        headless::ClearMessageBoxes();
        headless::ScriptFileDialog([path](const CFileDialog&) { return path.string(); });
        Press(IDC_LOAD_FILE);
        ASSERT_EQ(headless::MessageBoxes().size(), 1u) << path;
        EXPECT_NE(headless::MessageBoxes()[0].find(path.string()), std::string::npos);
        EXPECT_EQ(dlg->GetImageLength(), 300u);
        EXPECT_EQ(Text(IDC_LENGTH), "300");
        EXPECT_EQ(Status(), "Open File");
        ExpectControls(false, false);
    }
}

TEST_F(DialogTest, FramedImagesAreUnscrambledOnceFromTheFile) {
    SelectMachineType(1);
    // 51 bytes equal to their key bytes unscramble to zeros; a stored 0x00
    // under key byte 0x01 wraps to 0xFF.
    Bytes stored(53);
    for (std::size_t i = 0; i < 51; ++i) {
        stored[i] = UnscrambleKey[i % 50];
    }
    ASSERT_EQ(UnscrambleKey[1], 0x01);
    stored[51] = 0x00;
    stored[52] = static_cast<std::uint8_t>(UnscrambleKey[2] + 7);
    Bytes expected(53, 0);
    expected[51] = 0xFF;
    expected[52] = 7;
    for (int load = 0; load < 2; ++load) {
        Load(stored, "image.UPL");
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), dlg->GetImage()))
            << "load " << load;
    }
}

TEST_F(DialogTest, CharacterMachineImagesAreLoadedAsTheyStand) {
    const Bytes file = Pattern(120);
    Load(file);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), dlg->GetImage()));
}

// The files the demos and tests make load as the image they were made from,
// whatever the machine type, and a framed type's file is not the image.
TEST_F(DialogTest, StoredImageFilesLoadAsTheirImage) {
    const Bytes image = Pattern(1234, 5);
    for (MachineType type : {0, 1, 2}) {
        SCOPED_TRACE(int(type));
        if (type != 0) {
            SelectMachineType(type);
        }
        EXPECT_EQ(StoredImage(type, image) == image, type == 0);
        const auto path = dir.path() / ("stored" + StoredFileSuffix(type));
        ASSERT_TRUE(WriteStoredImage(path.string(), type, image));
        // The file is one that Load File's dialog offers for the type: its
        // name matches the dialog's "*.EXT" filter.
        std::string filter;
        headless::ScriptFileDialog([&](const CFileDialog& d) {
            filter = d.m_filter;
            return path.string();
        });
        Press(IDC_LOAD_FILE);
        ASSERT_TRUE(filter.starts_with("*.")) << filter;
        EXPECT_TRUE(path.filename().string().ends_with(filter.substr(1))) << filter;
        EXPECT_EQ(Text(IDC_LENGTH), "1234");
        EXPECT_TRUE(std::equal(image.begin(), image.end(), dlg->GetImage()));
    }
    EXPECT_FALSE(WriteStoredImage((dir.path() / "no-such-folder" / "x.EUP").string(), 0, image));
}
