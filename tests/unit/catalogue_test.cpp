// The settings catalogue: every value the command takes gives the byte the
// dialog sends for that list item, by its own name and by the dialog's text.
#include "protocol/settings_catalogue.h"

#include <gtest/gtest.h>

#include <cctype>

#include "protocol/hex.h"

namespace {

using namespace morvane;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string FrameHex(const FrameBuffer& buf, const Frame& f) {
    return HexBytes(buf, static_cast<std::size_t>(f.length));
}

// The frame the dialog's handler builds when list item `index` is selected.
Frame DialogFrame(FrameBuffer& buf, const Setting& s, int index) {
    return s.rule == ArgumentRule::ChineseMode ? BuildChineseMode(buf, index) : BuildListSetting(buf, *s.list, index);
}

TEST(Catalogue, EveryListValueGivesTheDialogsFrameByNameAndByDialogText) {
    int lists = 0;
    for (const Setting& s : SettingsCatalogue()) {
        if (s.values.empty()) continue;
        ++lists;
        for (std::size_t i = 0; i < s.values.size(); ++i) {
            const SettingValue& v = s.values[i];
            const int index = static_cast<int>(i);
            SCOPED_TRACE(std::string(s.key) + " = " + v.name);
            EXPECT_EQ(FindValueIndex(s, v.name), index);
            EXPECT_EQ(FindValueIndex(s, Upper(v.dialogText)), index) << "dialog text \"" << v.dialogText << "\"";
            FrameBuffer cli{}, dialog{};
            const Frame got = BuildSetFrame(cli, s, SetArgument{index, 0, {}});
            const Frame want = DialogFrame(dialog, s, index);
            EXPECT_EQ(FrameHex(cli, got), FrameHex(dialog, want));
            EXPECT_EQ(got.operation, want.operation);
            EXPECT_EQ(got.operation, s.operation);
            if (s.rule != ArgumentRule::ChineseMode) {
                EXPECT_EQ(cli[2], s.code);
            }
        }
    }
    EXPECT_EQ(lists, 13);
}

TEST(Catalogue, ValuesATechnicianTypes) {
    struct Case {
        const char* key;
        const char* value;
        const char* frame;
    };
    const Case cases[] = {
        {"bt-visible", "hidden", "1D 46 73 01"},
        {"bt-visible", "Unvisiable", "1D 46 73 01"},
        {"bt-visible", " visuable ", "1D 46 73 00"},
        {"bt-mode", "disable", "1D 46 7F 01"},
        {"baud", "9600", "1D 46 78 03"},
        {"baud", "115200", "1D 46 78 07"},
        {"darkness", "4", "1D 46 7C 04"},
        {"beeper", "OPEN", "1D 46 79 00"},
        {"beeper", "off", "1D 46 79 01"},
        {"sleep", "255", "1D 46 7A FF"},
        {"chinese", "traditional", "1D 46 AA"},
        {"chinese", "Simple Chinese", "1D 46 55"},
        {"mark-sensitivity", "7", "1D 46 7D 07"},
        {"language", "english", "1D 46 7B 01"},
        {"paper-sensor", "left-mark-2", "1D 46 86 04"},
        {"command-set", "ESC/POS", "1D 46 87 02"},
        {"paper-width", "44mm", "1D 46 88 01"},
        {"paper-width", "114", "1D 46 88 05"},
        {"paper-width", "76MM(no support)", "1D 46 88 03"},
    };
    for (const Case& c : cases) {
        const Setting* s = FindSetting(c.key);
        ASSERT_NE(s, nullptr) << c.key;
        const auto index = FindValueIndex(*s, c.value);
        ASSERT_TRUE(index) << c.key << " \"" << c.value << "\" not accepted";
        FrameBuffer buf{};
        EXPECT_EQ(FrameHex(buf, BuildSetFrame(buf, *s, {*index, 0, {}})), c.frame) << c.key << " = " << c.value;
    }
}

TEST(Catalogue, RefusesWhatNoListHolds) {
    const std::pair<const char*, const char*> cases[] = {
        {"darkness", "0"},  {"darkness", "6"},     {"sleep", "256"},      {"sleep", "-1"}, {"baud", "1200"},
        {"baud", "9600mm"}, {"paper-width", "mm"}, {"paper-width", "45"}, {"beeper", "o"}, {"bt-visible", ""},
    };
    for (const auto& [key, value] : cases)
        EXPECT_FALSE(FindValueIndex(*FindSetting(key), value)) << key << " \"" << value << "\" was accepted";
}

TEST(Catalogue, TextPositionAndReadFramesComeFromTheFrameBuilders) {
    FrameBuffer buf{};
    EXPECT_EQ(FrameHex(buf, BuildSetFrame(buf, *FindSetting("bt-name"), {0, 0, "Shop"})), "1D 46 72 04 53 68 6F 70");
    EXPECT_EQ(FrameHex(buf, BuildSetFrame(buf, *FindSetting("bt-password"), {0, 0, ""})), "1D 46 77 01 0D");
    EXPECT_EQ(FrameHex(buf, BuildSetFrame(buf, *FindSetting("position"), {0, -28, {}})), "1D 46 82 80 00 00 00 1C");
    EXPECT_EQ(FrameHex(buf, BuildReadFrame(buf, *FindSetting("bt-address"))), "1D 46 74");
    const Frame name = BuildReadFrame(buf, *FindSetting("bt-name"));
    EXPECT_EQ(FrameHex(buf, name), "1D 46 72 00");
    EXPECT_EQ(name.operation, kOpReadName);
    EXPECT_FALSE(FindSetting("bt-address")->CanSet());
    EXPECT_FALSE(FindSetting("darkness")->CanRead());
    int settable = 0;
    for (const Setting& s : SettingsCatalogue()) settable += s.CanSet() ? 1 : 0;
    EXPECT_EQ(settable, 16);
}

}  // namespace
