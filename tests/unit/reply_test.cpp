// Reply forms: status and value, and the bounds of the value copy.
#include "protocol/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

const char* Name(StatusReply s) {
    switch (s) {
        case StatusReply::NoAnswer: return "NoAnswer";
        case StatusReply::Failure: return "Failure";
        case StatusReply::Success: return "Success";
    }
    return "?";
}

TEST(StatusReplyTest, OnlyExactlyFourBytesCount) {
    struct Case {
        Bytes reply;
        int count;
        StatusReply expected;
    };
    const Case cases[] = {
        {{0x1D, 0x46, 0x7C, 0x00}, 4, StatusReply::Success},
        {{0x00, 0x00, 0x00, 0xFE}, 4, StatusReply::Success},
        {{0xFF, 0xFF, 0xFF, 0x01}, 4, StatusReply::Success},  // bytes 0..2 are not examined
        {{0x1D, 0x46, 0x7C, 0xFF}, 4, StatusReply::Failure},
        {{0x1D, 0x46, 0x7C, 0x00, 0x00}, 5, StatusReply::NoAnswer},
        {{0x1D, 0x46, 0x7C}, 3, StatusReply::NoAnswer},
        {{}, 0, StatusReply::NoAnswer},
        {{}, -1, StatusReply::NoAnswer},
    };
    for (const Case& c : cases) {
        Bytes buf = c.reply;
        buf.resize(255, 0xFF);
        StatusReply got = ParseStatusReply(buf.data(), buf.size(), c.count);
        EXPECT_EQ(got, c.expected) << "count " << c.count << ": got " << Name(got) << ", expected " << Name(c.expected);
    }
}

TEST(StatusReplyTest, SmallBufferIsNoAnswer) {
    const std::uint8_t buf[3] = {0, 0, 0};
    EXPECT_EQ(ParseStatusReply(buf, sizeof buf, 4), StatusReply::NoAnswer);
}

struct ValueCase {
    const char* what;
    Bytes reply;  // the bytes that arrived; the buffer is padded behind them
    int count;
    bool serial;
    std::optional<std::string> expected;
};

TEST(ValueReplyTest, Forms) {
    const ValueCase cases[] = {
        {"plain", {0, 0, 0, 3, 'a', 'b', 'c'}, 7, false, "abc"},
        {"plain on serial", {0, 0, 0, 3, 'a', 'b', 'c'}, 7, true, "abc"},
        {"0x11 on serial", {0x11, 0, 0, 0, 2, 'h', 'i'}, 7, true, "hi"},
        {"0x11 ignored on library", {0x11, 0, 0, 2, 'h', 'i', 'x'}, 7, false, "hi"},
        {"length 0 empties", {0, 0, 0, 0}, 4, false, ""},
        {"zero ends the text", {0, 0, 0, 5, 'a', 0, 'b', 'c', 'd'}, 9, false, "a"},
        {"length shorter than text", {0, 0, 0, 2, 'a', 'b', 'c'}, 7, false, "ab"},
        {"three bytes is no answer", {0, 0, 0}, 3, false, std::nullopt},
        {"nothing is no answer", {}, 0, true, std::nullopt},
        {"negative is no answer", {}, -1, true, std::nullopt},
        {"double-byte text", {0, 0, 0, 4, 0xD6, 0xD0, 0xCE, 0xC4}, 8, false, "\xD6\xD0\xCE\xC4"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buf = c.reply;
        buf.resize(255, 0);
        EXPECT_EQ(ParseValueReply(buf.data(), buf.size(), c.count, c.serial), c.expected);
    }
}

TEST(ValueReplyTest, NeverBeyondWhatArrived) {
    // Behind the bytes that arrived the buffer holds 'Z's that must never show.
    const ValueCase cases[] = {
        {"0x11 reply of 4 bytes: its length never came", {0x11, 0, 0, 5}, 4, true, ""},
        {"length 10, 2 text bytes came", {0, 0, 0, 10, 'a', 'b'}, 6, false, "ab"},
        {"length 255, 4 bytes came", {0, 0, 0, 255}, 4, false, ""},
        {"0x11, length 9, 3 came", {0x11, 0, 0, 0, 9, 'x', 'y', 'z'}, 8, true, "xyz"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buf = c.reply;
        buf.resize(255, 'Z');
        EXPECT_EQ(ParseValueReply(buf.data(), buf.size(), c.count, c.serial), c.expected);
    }
}

TEST(ValueReplyTest, CopyIsBoundedTo39Bytes) {
    Bytes buf(255, 'q');
    buf[3] = 255;
    auto value = ParseValueReply(buf.data(), buf.size(), 64, false);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->size(), 39u);
    buf[0] = 0x11;
    buf[4] = 200;
    value = ParseValueReply(buf.data(), buf.size(), 255, true);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->size(), 39u);
}

TEST(ValueReplyTest, CountBeyondTheBufferReadsOnlyTheBuffer) {
    // A count larger than the buffer: only bufSize bytes may be touched.
    Bytes buf = {0, 0, 0, 30, 'a', 'b'};
    auto value = ParseValueReply(buf.data(), buf.size(), 1000, false);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "ab");
    const std::uint8_t tiny[4] = {0x11, 0, 0, 3};
    EXPECT_EQ(ParseValueReply(tiny, sizeof tiny, 64, true), std::string());
}

}  // namespace
}  // namespace morvane
