// Command frames: bytes, lengths and operation numbers.
#include "protocol/frames.h"
#include "protocol/hex.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Bytes& bytes) { return HexBytes(bytes.data(), bytes.size()); }

// The frame's bytes, checking that its length stays inside the buffer.
Bytes Sent(const FrameBuffer& buf, const Frame& frame) {
    EXPECT_GE(frame.length, 3);
    EXPECT_LE(frame.length, static_cast<int>(kFrameBufferSize));
    return Bytes(buf, buf + frame.length);
}

void ExpectFrame(const FrameBuffer& buf, const Frame& frame, const Bytes& bytes, int operation) {
    EXPECT_EQ(Hex(Sent(buf, frame)), Hex(bytes));
    EXPECT_EQ(frame.operation, operation);
}

TEST(Frames, ReadFrames) {
    FrameBuffer buf{};
    ExpectFrame(buf, BuildReadName(buf), {0x1D, 0x46, 0x72, 0x00}, kOpReadName);
    // The address read ends after its code: no zero argument byte.
    ExpectFrame(buf, BuildReadAddress(buf), {0x1D, 0x46, 0x74}, kOpReadAddress);
    ExpectFrame(buf, BuildReadPassword(buf), {0x1D, 0x46, 0x77, 0x00}, kOpReadPassword);
}

TEST(Frames, EmptyTextsAreStillFrames) {
    FrameBuffer buf{};
    // Same bytes as the read, but a status reply is expected.
    ExpectFrame(buf, BuildSetName(buf, ""), {0x1D, 0x46, 0x72, 0x00}, kOpSetName);
    ExpectFrame(buf, BuildSetPassword(buf, ""), {0x1D, 0x46, 0x77, 0x01, 0x0D}, kOpSetPassword);
}

TEST(Frames, TextsCarryTheirBytes) {
    FrameBuffer buf{};
    ExpectFrame(buf, BuildSetName(buf, "BT"), {0x1D, 0x46, 0x72, 0x02, 'B', 'T'}, kOpSetName);
    ExpectFrame(buf, BuildSetPassword(buf, "1234"), {0x1D, 0x46, 0x77, 0x05, '1', '2', '3', '4', 0x0D}, kOpSetPassword);
}

TEST(Frames, TwentyByteTexts) {
    FrameBuffer buf{};
    const std::string text(20, 'x');
    Frame name = BuildSetName(buf, text);
    EXPECT_EQ(name.length, 24);
    EXPECT_EQ(buf[3], 20);
    Frame pass = BuildSetPassword(buf, text);
    EXPECT_EQ(pass.length, 25);
    EXPECT_EQ(buf[3], 0x15);
    EXPECT_EQ(buf[24], 0x0D);
}

TEST(Frames, LengthCountsBytesNotCharacters) {
    // Ten Chinese characters in code page 936: two bytes each.
    std::string text;
    for (int i = 0; i < 10; ++i) text += "\xD6\xD0";
    FrameBuffer buf{};
    Frame frame = BuildSetName(buf, text);
    EXPECT_EQ(buf[3], 20);
    EXPECT_EQ(frame.length, 24);
    EXPECT_EQ(Hex(Bytes(buf + 4, buf + 24)), Hex(Bytes(text.begin(), text.end())));
}

TEST(Frames, LongTextIsCutToTwentyBytes) {
    const std::string text = "abcdefghijklmnopqrstuvwxyz0123456789";  // 36 bytes
    struct Case {
        const char* what;
        bool password;
        int length;
        std::uint8_t lengthByte;
    };
    for (const Case& c : {Case{"name", false, 24, 20}, Case{"password", true, 25, 21}}) {
        SCOPED_TRACE(c.what);
        FrameBuffer buf{};
        std::fill(std::begin(buf), std::end(buf), 0xEE);
        Frame frame = c.password ? BuildSetPassword(buf, text) : BuildSetName(buf, text);
        EXPECT_EQ(frame.length, c.length);
        EXPECT_EQ(buf[3], c.lengthByte);
        EXPECT_EQ(std::string(buf + 4, buf + 24), text.substr(0, 20));
        // The length byte describes exactly what the frame holds.
        EXPECT_EQ(frame.length, buf[3] + 4);
        if (c.password) {
            EXPECT_EQ(buf[24], 0x0D);
        }
        EXPECT_EQ(buf[c.length], 0xEE) << "wrote past the frame";
    }
}

TEST(Frames, Position) {
    struct Case {
        std::int32_t value;
        Bytes bytes;
    };
    const Case cases[] = {
        {28, {0x1D, 0x46, 0x82, 0x00, 0x00, 0x00, 0x00, 0x1C}},
        {-28, {0x1D, 0x46, 0x82, 0x80, 0x00, 0x00, 0x00, 0x1C}},
        {300, {0x1D, 0x46, 0x82, 0x00, 0x00, 0x00, 0x01, 0x2C}},
        {0, {0x1D, 0x46, 0x82, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {-255, {0x1D, 0x46, 0x82, 0x80, 0x00, 0x00, 0x00, 0xFF}},
        {0x12345678, {0x1D, 0x46, 0x82, 0x00, 0x12, 0x34, 0x56, 0x78}},
        {INT32_MIN, {0x1D, 0x46, 0x82, 0x80, 0x80, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        FrameBuffer buf{};
        ExpectFrame(buf, BuildPosition(buf, c.value), c.bytes, kOpPosition);
    }
}

TEST(Frames, ChineseMode) {
    FrameBuffer buf{};
    ExpectFrame(buf, BuildChineseMode(buf, 0), {0x1D, 0x46, 0x55}, kOpChineseMode);
    ExpectFrame(buf, BuildChineseMode(buf, 1), {0x1D, 0x46, 0xAA}, kOpChineseMode);
    ExpectFrame(buf, BuildChineseMode(buf, 5), {0x1D, 0x46, 0xAA}, kOpChineseMode);
}

TEST(Frames, ListSettings) {
    struct Case {
        ListSetting setting;
        std::uint8_t code;
        int operation;
        bool plusOne;
    };
    const Case cases[] = {
        {ListSetting::Visibility, 0x73, 7, false},      {ListSetting::BtMode, 0x7F, 15, false},
        {ListSetting::BaudRate, 0x78, 8, true},         {ListSetting::Darkness, 0x7C, 12, true},
        {ListSetting::Beeper, 0x79, 9, false},          {ListSetting::SleepTime, 0x7A, 10, false},
        {ListSetting::MarkSensitivity, 0x7D, 13, true}, {ListSetting::GapSensitivity, 0x7E, 14, true},
        {ListSetting::Language, 0x7B, 18, false},       {ListSetting::PaperSensor, 0x86, 19, false},
        {ListSetting::CommandSet, 0x87, 20, true},      {ListSetting::PaperWidth, 0x88, 21, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << int(c.code));
        const ListSettingInfo info = GetListSettingInfo(c.setting);
        EXPECT_EQ(info.code, c.code);
        EXPECT_EQ(info.operation, c.operation);
        EXPECT_EQ(info.indexPlusOne, c.plusOne);
        for (int index : {0, 2, 4}) {
            FrameBuffer buf{};
            const std::uint8_t value = static_cast<std::uint8_t>(index + (c.plusOne ? 1 : 0));
            ExpectFrame(buf, BuildListSetting(buf, c.setting, index), {0x1D, 0x46, c.code, value}, c.operation);
        }
    }
}

TEST(Frames, BaudIndexTwoSendsThree) {
    FrameBuffer buf{};
    ExpectFrame(buf, BuildListSetting(buf, ListSetting::BaudRate, 2), {0x1D, 0x46, 0x78, 0x03}, kOpBaudRate);
}

TEST(Frames, SleepTimeKeepsTheLowByte) {
    FrameBuffer buf{};
    BuildListSetting(buf, ListSetting::SleepTime, 255);
    EXPECT_EQ(buf[3], 255);
    BuildListSetting(buf, ListSetting::SleepTime, 256);
    EXPECT_EQ(buf[3], 0);
}

TEST(Frames, BytesBehindTheFrameAreLeftAlone) {
    FrameBuffer buf{};
    BuildSetName(buf, "abcdefgh");
    BuildReadAddress(buf);
    EXPECT_EQ(buf[3], 8) << "the earlier frame's bytes stay";
    EXPECT_EQ(buf[4], 'a');
}

}  // namespace
}  // namespace morvane
