// Profile files: what a technician writes by hand, and what must be refused
// with the line it is on.
#include "cli/text/profile.h"

#include <gtest/gtest.h>

namespace {

using morvane::cli::ParseProfile;
using morvane::cli::ProfileEntry;
using morvane::cli::ProfileError;

TEST(Profile, KeysValuesCommentsAndQuotes) {
    const char* text =
        "\xEF\xBB\xBF# shop printers\r\n"
        "darkness = 4\r\n"
        "\n"
        "   bt-name=\"Shop # {n} \"   # quoted: blanks and # kept\n"
        "bt-password = '12 34'\n"
        "paper-width=80 mm # trailing comment\n"
        "sleep =\n";
    std::vector<ProfileEntry> entries;
    ProfileError error;
    ASSERT_TRUE(ParseProfile(text, &entries, &error)) << error.line << ": " << error.message;
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].key, "darkness");
    EXPECT_EQ(entries[0].value, "4");
    EXPECT_EQ(entries[0].line, 2);
    EXPECT_EQ(entries[1].value, "Shop # {n} ");
    EXPECT_EQ(entries[1].line, 4);
    EXPECT_EQ(entries[2].value, "12 34");
    EXPECT_EQ(entries[3].value, "80 mm");
    EXPECT_EQ(entries[4].value, "");
}

TEST(Profile, BadLinesAreNamedByNumber) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"darkness = 4\njust words\n", 2, "key = value"},
        {"= 4\n", 1, "no key"},
        {"dark ness = 4\n", 1, "bad key"},
        {"bt-name = \"open\n", 1, "closing"},
        {"bt-name = \"a\" b\n", 1, "after the closing quote"},
        {"darkness = 4\n# x\ndarkness = 5\n", 3, "twice"},
    };
    for (const Case& c : cases) {
        std::vector<ProfileEntry> entries;
        ProfileError error;
        EXPECT_FALSE(ParseProfile(c.text, &entries, &error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << c.text << ": got \"" << error.message << "\"";
    }
    // A zero byte cannot reach a printer's text.
    std::vector<ProfileEntry> entries;
    ProfileError error;
    EXPECT_FALSE(ParseProfile(std::string_view("a = 1\nb = \0\n", 12), &entries, &error));
    EXPECT_EQ(error.line, 2);
}

}  // namespace
