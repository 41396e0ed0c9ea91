// Requests checked before anything is sent, and made ready per printer.
#include "cli/run/plan.h"

#include <gtest/gtest.h>

#include "protocol/hex.h"

namespace {

using namespace morvane;
using namespace morvane::cli;

std::string PlanError(const char* key, const char* value) {
    Request r;
    std::string error;
    EXPECT_FALSE(PlanSet(key, value, "argument 1", &r, &error)) << key << "=" << value;
    return error;
}

CodePage Page(const char* name) {
    CodePage page;
    std::string error;
    EXPECT_TRUE(ResolveCodePage(name, &page, &error)) << error;
    return page;
}

TEST(Plan, BadKeysAndValuesAreRefusedByName) {
    EXPECT_NE(PlanError("dark", "4").find("unknown key \"dark\""), std::string::npos);
    EXPECT_NE(PlanError("darkness", "9").find("darkness \"9\""), std::string::npos);
    EXPECT_NE(PlanError("bt-address", "x").find("read only"), std::string::npos);
    EXPECT_NE(PlanError("position", "1000000").find("position"), std::string::npos);
    EXPECT_NE(PlanError("position", "-100000").find("position"), std::string::npos);
    EXPECT_NE(PlanError("position", "12a").find("position"), std::string::npos);
    Request r;
    std::string error;
    EXPECT_TRUE(PlanSet("position", "-99999", "a", &r, &error));
    EXPECT_EQ(r.argument.number, -99999);
    EXPECT_FALSE(PlanGet("darkness", "a", &r, &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

TEST(Plan, TextsCountBytesAfterEncodingAndTakeThePlace) {
    Request name;
    std::string error;
    ASSERT_TRUE(PlanSet("bt-name", "Shop-{n}", "a", &name, &error));
    Step step;
    ASSERT_TRUE(PrepareStep(name, 12, Page("utf-8"), &step, &error)) << error;
    EXPECT_EQ(step.shownValue, "Shop-12");
    EXPECT_EQ(HexBytes(step.frame, static_cast<std::size_t>(step.built.length)), "1D 46 72 07 53 68 6F 70 2D 31 32");

    // Ten Chinese characters: 30 bytes of UTF-8, 20 in code page 936.
    const std::string ten =
        "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD"
        "\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87";
    ASSERT_TRUE(PlanSet("bt-name", ten, "a", &name, &error));
    EXPECT_FALSE(PrepareStep(name, 1, Page("utf-8"), &step, &error));
    EXPECT_NE(error.find("30 bytes"), std::string::npos) << error;
    ASSERT_TRUE(PrepareStep(name, 1, Page("936"), &step, &error)) << error;
    EXPECT_EQ(step.built.length, 24);
    EXPECT_EQ(step.frame[3], 20);
    EXPECT_FALSE(PrepareStep(name, 1, Page("1252"), &step, &error)) << "1252 has no Chinese characters";

    // "{n}" can push one printer's text over the limit and not another's.
    ASSERT_TRUE(PlanSet("bt-password", "ppppppppppppppppppp{n}", "a", &name, &error));
    EXPECT_TRUE(PrepareStep(name, 9, Page("utf-8"), &step, &error));
    EXPECT_EQ(step.frame[3], 21);  // 20 bytes and the closing 0x0D
    EXPECT_FALSE(PrepareStep(name, 10, Page("utf-8"), &step, &error));
}

TEST(Plan, TheLineSpeedChangesLast) {
    std::vector<Request> requests;
    std::string error;
    for (const auto& [key, value] :
         {std::pair{"darkness", "4"}, {"baud", "115200"}, {"beeper", "on"}, {"sleep", "5"}}) {
        Request r;
        ASSERT_TRUE(PlanSet(key, value, "a", &r, &error)) << error;
        requests.push_back(r);
    }
    MoveBaudLast(&requests);
    std::vector<std::string> keys;
    for (const Request& r : requests) keys.emplace_back(r.setting->key);
    EXPECT_EQ(keys, (std::vector<std::string>{"darkness", "beeper", "sleep", "baud"}));
    Step step;
    ASSERT_TRUE(PrepareStep(requests.back(), 1, Page("utf-8"), &step, &error));
    EXPECT_EQ(step.newBaud, 115200);
}

TEST(Utf8, OutputIsAlwaysValid) {
    EXPECT_EQ(SanitizeUtf8("ok \xE4\xB8\xAD"), "ok \xE4\xB8\xAD");
    EXPECT_EQ(SanitizeUtf8("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(SanitizeUtf8("\xE4\xB8"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // cut short
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
    EXPECT_EQ(DecodeText(Page("936"), "\xD6\xD0\xFF"), "\xE4\xB8\xAD\xEF\xBF\xBD");
}

}  // namespace
