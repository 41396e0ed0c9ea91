// SkinPlusPlusDLL: the skin file is read only from beside the EXE; only a
// well-formed file counts. The shipped
// XPCorona.ssk is copied beside this test program at build time.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "libs/skin/skin.h"

namespace {

std::string ExeDir() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir;
}

// A file that exists for as long as the object lives.
class TempFile {
public:
    TempFile(std::string path, const std::string& text) : path_(std::move(path)) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    ~TempFile() { DeleteFileA(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

private:
    std::string path_;
};

TEST(Skin, ShippedSkinIsFoundAndRead) { EXPECT_EQ(InitializeSkin("XPCorona.ssk"), 1); }

TEST(Skin, MissingFileGivesZero) {
    EXPECT_EQ(InitializeSkin("NoSuchSkin.ssk"), 0);
    EXPECT_EQ(InitializeSkin(nullptr), 0);
    EXPECT_EQ(InitializeSkin(""), 0);
}

TEST(Skin, OnlyBareNamesAreTaken) {
    const std::string full = ExeDir() + "XPCorona.ssk";
    ASSERT_NE(GetFileAttributesA(full.c_str()), INVALID_FILE_ATTRIBUTES) << full << " is missing";
    for (const std::string& name :
         {full, std::string(".\\XPCorona.ssk"), std::string("..\\XPCorona.ssk"), std::string("sub/XPCorona.ssk"),
          std::string(".."), std::string("C:XPCorona.ssk")}) {
        EXPECT_EQ(InitializeSkin(name.c_str()), 0) << "\"" << name << "\"";
    }
}

TEST(Skin, MalformedFilesGiveZero) {
    const struct {
        const char* why;
        const char* text;
    } cases[] = {
        {"empty", ""},
        {"no header", "[Colors]\nFace=ECE9D8\n"},
        {"wrong header", "SkinPlusPlus Skin 2\n[Colors]\nFace=ECE9D8\n"},
        {"no colours", "SkinPlusPlus Skin 1\n[Info]\nName=x\n"},
        {"bad colour", "SkinPlusPlus Skin 1\n[Colors]\nFace=ECE9D\n"},
        {"not hex", "SkinPlusPlus Skin 1\n[Colors]\nFace=GGGGGG\n"},
        {"line outside a section", "SkinPlusPlus Skin 1\nFace=ECE9D8\n"},
        {"broken section", "SkinPlusPlus Skin 1\n[Colors\nFace=ECE9D8\n"},
        {"binary", "\x01\x02\x03\xFF"},
    };
    for (const auto& c : cases) {
        TempFile file(ExeDir() + "Broken.ssk", c.text);
        EXPECT_EQ(InitializeSkin("Broken.ssk"), 0) << c.why;
    }
}

TEST(Skin, WellFormedVariantsGiveOne) {
    const struct {
        const char* why;
        const char* text;
    } cases[] = {
        {"minimal", "SkinPlusPlus Skin 1\n[Colors]\nFace=ECE9D8\n"},
        {"CRLF, comments, blanks", "SkinPlusPlus Skin 1\r\n; c\r\n\r\n# c\r\n[Colors]\r\n Face = ece9d8 \r\n"},
        {"UTF-8 mark", "\xEF\xBB\xBFSkinPlusPlus Skin 1\n[Colors]\nFace=000000\n"},
    };
    for (const auto& c : cases) {
        TempFile file(ExeDir() + "Variant.ssk", c.text);
        EXPECT_EQ(InitializeSkin("Variant.ssk"), 1) << c.why;
    }
}

TEST(Skin, CurrentDirectoryIsNeverSearched) {
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    const std::string dir = std::string(temp) + "morvane_skin_test";
    CreateDirectoryA(dir.c_str(), nullptr);
    char old[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old, old);
    {
        TempFile file(dir + "\\Elsewhere.ssk", "SkinPlusPlus Skin 1\n[Colors]\nFace=ECE9D8\n");
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
        EXPECT_EQ(InitializeSkin("Elsewhere.ssk"), 0) << "read from the current directory";
        SetCurrentDirectoryA(old);
    }
    RemoveDirectoryA(dir.c_str());
}

TEST(Skin, OversizedFileGivesZero) {
    std::string text = "SkinPlusPlus Skin 1\n[Colors]\nFace=ECE9D8\n";
    text += "; " + std::string(70000, 'x') + "\n";
    TempFile file(ExeDir() + "Huge.ssk", text);
    EXPECT_EQ(InitializeSkin("Huge.ssk"), 0);
}

}  // namespace
