// The numeric edit control's character rule.
#include "controls/char_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using morvane::AcceptsChar;

struct CharCase {
    unsigned code;
    bool allowMinus;
    const char* text;
    bool expected;
};

const CharCase kCases[] = {
    {'0', false, "", true},       {'5', false, "12", true},       {'9', true, "-", true},
    {'0', false, "0", true},                                // no leading-zero rule
    {8, false, "", true},                                   // backspace on an empty field
    {8, true, "-12", true},       {'-', true, "", true},    // first sign into an empty field
    {'-', true, "12", true},                                // lands at the caret, after the digits
    {'-', true, "-12", false},                              // a second sign
    {'-', true, "12-", false},                              // a sign anywhere counts
    {'-', true, "1-2", false},    {'-', false, "", false},  // minus not allowed
    {'-', false, "12", false},    {'.', true, "1", false},        {'+', true, "", false},
    {' ', true, "", false},       {'a', true, "", false},         {'Z', true, "", false},
    {3, true, "12", false},   // Ctrl+C
    {22, true, "12", false},  // Ctrl+V
    {24, true, "12", false},  // Ctrl+X
    {26, true, "12", false},  // Ctrl+Z
    {13, true, "", false},        {127, true, "", false},         {128, true, "", false},
    {0xB0, true, "", false},                                     // lead byte of a double-byte character
    {0xFF, true, "", false},      {'0' + 256, true, "", false},  // compared as the whole code
    {'-' + 256, true, "", false}, {0xFFFFFFFFu, true, "", false},
};

TEST(CharRule, Table) {
    for (const CharCase& c : kCases) {
        bool got = AcceptsChar(c.code, c.allowMinus, c.text);
        EXPECT_EQ(got, c.expected) << "code " << c.code << ", allowMinus " << c.allowMinus << ", text \"" << c.text
                                   << "\": got " << got << ", expected " << c.expected;
    }
}

TEST(CharRule, OnlyDigitsBackspaceAndOneMinusPassOverAllCodes) {
    for (unsigned code = 0; code < 1024; ++code) {
        for (bool allowMinus : {false, true}) {
            for (const char* text : {"", "28", "-3"}) {
                const bool hasMinus = std::string(text).find('-') != std::string::npos;
                const bool expected =
                    (code >= '0' && code <= '9') || code == 8 || (code == '-' && allowMinus && !hasMinus);
                bool got = AcceptsChar(code, allowMinus, text);
                ASSERT_EQ(got, expected) << "code " << code << ", allowMinus " << allowMinus << ", text \"" << text
                                         << "\": got " << got << ", expected " << expected;
            }
        }
    }
}

}  // namespace
