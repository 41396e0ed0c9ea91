// Text-to-number conversion of control texts.
#include "protocol/text_number.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(TextToNumberTest, Table) {
    struct Case {
        const char* text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {" 0028 ", 28},
        {"0", 0},
        {"", 0},
        {"   ", 0},
        {"0000012345", 12345},  // zeros go before the 6-character cut
        {"-0000012", 0},        // zero removal stops at the sign; "-00000" remains
        {"1234567", 123456},
        {"-123456", -12345},  // the sign is one of the six
        {"a12", 0},
        {"12-", 12},
        {"-28", -28},
        {"+28", 28},
        {"-", 0},
        {"9600", 9600},
        {"115200", 115200},
        {"\t42\r\n", 42},
        {"00 12", 12},  // "%d" skips the blank the zero removal uncovered
        {"1 2", 1},
        {"\xD6\xD0"
         "12",
         0},
        {"999999999", 999999},
    };
    for (const Case& c : cases) EXPECT_EQ(TextToNumber(c.text), c.expected) << "text \"" << c.text << "\"";
}

}  // namespace
}  // namespace morvane
