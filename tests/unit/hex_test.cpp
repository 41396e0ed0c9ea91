// Hex text both ways: the test tools' line protocols depend on a word that
// is not hex being refused rather than read as some other bytes.
#include <gtest/gtest.h>

#include <string>

#include "protocol/hex.h"

using morvane::HexDigits;
using morvane::ParseHexDigits;

TEST(Hex, DigitsRoundTripEveryByteAndRefuseWhatIsNotHex) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string text = HexDigits(all);
    ASSERT_EQ(text.substr(0, 6), "000102");
    EXPECT_EQ(ParseHexDigits(text), all);
    EXPECT_EQ(ParseHexDigits("1d46ff"), std::string("\x1D\x46\xFF"));
    EXPECT_EQ(ParseHexDigits(""), std::string());
    for (const char* bad : {"1", "1D4", "1G", "1D 46", "-", "0x1D"})
        EXPECT_EQ(ParseHexDigits(bad), std::nullopt) << bad;
}
