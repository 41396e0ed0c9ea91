// How the printer sizes, applies and answers single frames, without a line.

#include <gtest/gtest.h>

#include "pty_client.h"
#include "virtual_printer.h"

namespace {

using vprinter::AnswerFrame;
using vprinter::Bytes;
using vprinter::FrameLength;
using vprinter::Settings;
using vprinter_test::Hex;

struct LengthCase {
    Bytes head;
    std::size_t expected;
};

TEST(FrameLength, FollowsTheCodeAndLengthByte) {
    const LengthCase cases[] = {
        {{0x1D, 0x46}, 0},              // code not yet there
        {{0x1D, 0x46, 0x72}, 0},        // name: needs its length byte
        {{0x1D, 0x46, 0x72, 0x00}, 4},  // read name
        {{0x1D, 0x46, 0x72, 0x05}, 9},  // set name of 5 bytes
        {{0x1D, 0x46, 0x72, 0xFF}, 259},
        {{0x1D, 0x46, 0x77, 0x00}, 4},   // read password
        {{0x1D, 0x46, 0x77, 0x01}, 5},   // empty password and its 0D
        {{0x1D, 0x46, 0x77, 0x15}, 25},  // 20-byte password
        {{0x1D, 0x46, 0x74}, 3},         // read address
        {{0x1D, 0x46, 0x55}, 3},
        {{0x1D, 0x46, 0xAA}, 3},
        {{0x1D, 0x46, 0x82}, 8},  // position
        {{0x1D, 0x46, 0x7C}, 4},
        {{0x1D, 0x46, 0x88}, 4},
        {{0x1D, 0x46, 0x01}, 4},  // unknown: one argument byte
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameLength(c.head.data(), c.head.size()), c.expected) << "head " << Hex(c.head);
    }
}

struct SetCase {
    const char* what;
    Bytes frame;
    std::uint8_t status;  // byte 3 of the reply
    int Settings::*member;
    int stored;  // the member afterwards
};

const int kUnchanged = -1000;

TEST(AnswerFrame, StoresInRangeValuesAndRefusesTheRest) {
    const SetCase cases[] = {
        {"visibility 1", {0x1D, 0x46, 0x73, 1}, 0x00, &Settings::visibility, 1},
        {"visibility 2", {0x1D, 0x46, 0x73, 2}, 0xFF, &Settings::visibility, kUnchanged},
        {"baud 1", {0x1D, 0x46, 0x78, 1}, 0x00, &Settings::baudRate, 1},
        {"baud 7", {0x1D, 0x46, 0x78, 7}, 0x00, &Settings::baudRate, 7},
        {"baud 0", {0x1D, 0x46, 0x78, 0}, 0xFF, &Settings::baudRate, kUnchanged},
        {"baud 8", {0x1D, 0x46, 0x78, 8}, 0xFF, &Settings::baudRate, kUnchanged},
        {"beeper 1", {0x1D, 0x46, 0x79, 1}, 0x00, &Settings::beeper, 1},
        {"beeper 2", {0x1D, 0x46, 0x79, 2}, 0xFF, &Settings::beeper, kUnchanged},
        {"sleep 255", {0x1D, 0x46, 0x7A, 255}, 0x00, &Settings::sleepTime, 255},
        {"language 0", {0x1D, 0x46, 0x7B, 0}, 0x00, &Settings::language, 0},
        {"language 2", {0x1D, 0x46, 0x7B, 2}, 0xFF, &Settings::language, kUnchanged},
        {"darkness 5", {0x1D, 0x46, 0x7C, 5}, 0x00, &Settings::darkness, 5},
        {"darkness 0", {0x1D, 0x46, 0x7C, 0}, 0xFF, &Settings::darkness, kUnchanged},
        {"darkness 6", {0x1D, 0x46, 0x7C, 6}, 0xFF, &Settings::darkness, kUnchanged},
        {"mark 7", {0x1D, 0x46, 0x7D, 7}, 0x00, &Settings::markSensitivity, 7},
        {"mark 8", {0x1D, 0x46, 0x7D, 8}, 0xFF, &Settings::markSensitivity, kUnchanged},
        {"gap 1", {0x1D, 0x46, 0x7E, 1}, 0x00, &Settings::gapSensitivity, 1},
        {"gap 0", {0x1D, 0x46, 0x7E, 0}, 0xFF, &Settings::gapSensitivity, kUnchanged},
        {"bt mode 1", {0x1D, 0x46, 0x7F, 1}, 0x00, &Settings::btMode, 1},
        {"bt mode 2", {0x1D, 0x46, 0x7F, 2}, 0xFF, &Settings::btMode, kUnchanged},
        {"sensor 5", {0x1D, 0x46, 0x86, 5}, 0x00, &Settings::paperSensor, 5},
        {"sensor 6", {0x1D, 0x46, 0x86, 6}, 0xFF, &Settings::paperSensor, kUnchanged},
        {"cmd set 1", {0x1D, 0x46, 0x87, 1}, 0x00, &Settings::commandSet, 1},
        {"cmd set 3", {0x1D, 0x46, 0x87, 3}, 0xFF, &Settings::commandSet, kUnchanged},
        {"width 5", {0x1D, 0x46, 0x88, 5}, 0x00, &Settings::paperWidth, 5},
        {"width 6", {0x1D, 0x46, 0x88, 6}, 0xFF, &Settings::paperWidth, kUnchanged},
        {"position 28", {0x1D, 0x46, 0x82, 0x00, 0, 0, 0, 0x1C}, 0x00, &Settings::position, 28},
        {"position -28", {0x1D, 0x46, 0x82, 0x80, 0, 0, 0, 0x1C}, 0x00, &Settings::position, -28},
        {"position 255", {0x1D, 0x46, 0x82, 0x00, 0, 0, 0, 0xFF}, 0x00, &Settings::position, 255},
        {"position 300", {0x1D, 0x46, 0x82, 0x00, 0, 0, 1, 0x2C}, 0xFF, &Settings::position, kUnchanged},
        {"position bad sign", {0x1D, 0x46, 0x82, 0x01, 0, 0, 0, 1}, 0xFF, &Settings::position, kUnchanged},
        {"position huge", {0x1D, 0x46, 0x82, 0x00, 1, 0, 0, 1}, 0xFF, &Settings::position, kUnchanged},
        {"traditional", {0x1D, 0x46, 0xAA}, 0x00, &Settings::chineseCode, 0xAA},
        {"simplified", {0x1D, 0x46, 0x55}, 0x00, &Settings::chineseCode, 0x55},
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.chineseCode = 0;  // so that both Chinese codes show a change
        const int before = settings.*(c.member);
        const auto answer = AnswerFrame(c.frame, &settings);
        const Bytes expected = {0x1D, 0x46, c.frame[2], c.status};
        EXPECT_EQ(Hex(answer.bytes), Hex(expected)) << c.what;
        EXPECT_FALSE(answer.isValue) << c.what;
        const int want = c.stored == kUnchanged ? before : c.stored;
        EXPECT_EQ(settings.*(c.member), want) << c.what << ": stored value";
        EXPECT_EQ(settings.WasSet(c.frame[2]), c.status == 0x00) << c.what << ": set marker";
    }
}

TEST(AnswerFrame, ReadsAnswerWithStoredTexts) {
    Settings settings;
    settings.name = "Kitchen";
    settings.address = "11:22:33:44:55:66";
    settings.password = "0000";
    struct Case {
        Bytes frame;
        std::string text;
    };
    const Case cases[] = {
        {{0x1D, 0x46, 0x72, 0x00}, "Kitchen"},
        {{0x1D, 0x46, 0x74}, "11:22:33:44:55:66"},
        {{0x1D, 0x46, 0x77, 0x00}, "0000"},
    };
    for (const auto& c : cases) {
        const auto answer = AnswerFrame(c.frame, &settings);
        Bytes expected(4 + c.text.size());
        expected[0] = 0x1D;
        expected[1] = 0x46;
        expected[2] = c.frame[2];
        expected[3] = static_cast<std::uint8_t>(c.text.size());
        std::copy(c.text.begin(), c.text.end(), expected.begin() + 4);
        EXPECT_EQ(Hex(answer.bytes), Hex(expected)) << "frame " << Hex(c.frame);
        EXPECT_TRUE(answer.isValue);
        EXPECT_EQ(answer.text, c.text);
    }
    EXPECT_TRUE(settings.setCodes.empty()) << "a read marked a setting as set";
}

TEST(AnswerFrame, SetsTexts) {
    Settings settings;
    auto answer = AnswerFrame({0x1D, 0x46, 0x72, 3, 'a', 'b', 'c'}, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 72 00");
    EXPECT_EQ(settings.name, "abc");

    answer = AnswerFrame({0x1D, 0x46, 0x77, 5, '9', '8', '7', '6', 0x0D}, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 77 00");
    EXPECT_EQ(settings.password, "9876");

    answer = AnswerFrame({0x1D, 0x46, 0x77, 1, 0x0D}, &settings);  // empty password
    EXPECT_EQ(Hex(answer.bytes), "1D 46 77 00");
    EXPECT_EQ(settings.password, "");

    // A password frame must close with 0D; without it nothing is stored.
    answer = AnswerFrame({0x1D, 0x46, 0x77, 3, 'x', 'y', 'z'}, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 77 FF");
    EXPECT_EQ(settings.password, "");

    Bytes longName = {0x1D, 0x46, 0x72, 33};
    longName.resize(4 + 33, 'n');
    answer = AnswerFrame(longName, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 72 FF");
    EXPECT_EQ(settings.name, "abc");

    Bytes maxName = {0x1D, 0x46, 0x72, 32};
    maxName.resize(4 + 32, 'm');
    answer = AnswerFrame(maxName, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 72 00");
    EXPECT_EQ(settings.name, std::string(32, 'm'));
}

TEST(AnswerFrame, RefusesUnknownCodes) {
    Settings settings;
    const auto answer = AnswerFrame({0x1D, 0x46, 0x01, 0x07}, &settings);
    EXPECT_EQ(Hex(answer.bytes), "1D 46 01 FF");
    EXPECT_TRUE(settings.setCodes.empty());
}

TEST(AnswerFrame, CutsLongTextsTo255OnTheLine) {
    Settings settings;
    settings.name = std::string(300, 'q');
    const auto answer = AnswerFrame({0x1D, 0x46, 0x72, 0x00}, &settings);
    ASSERT_EQ(answer.bytes.size(), 4u + 255u);
    EXPECT_EQ(answer.bytes[3], 255);
}

TEST(FaultNames, RoundTrip) {
    using vprinter::Fault;
    for (Fault f : {Fault::None, Fault::Silent, Fault::Late, Fault::Pieces, Fault::WrongLength, Fault::Truncated,
                    Fault::AnswerFF, Fault::Prefix11, Fault::Stray, Fault::ValueLength, Fault::Hangup}) {
        Fault parsed = Fault::None;
        EXPECT_TRUE(vprinter::ParseFault(vprinter::FaultName(f), &parsed)) << vprinter::FaultName(f);
        EXPECT_EQ(parsed, f) << vprinter::FaultName(f);
    }
    Fault parsed;
    EXPECT_FALSE(vprinter::ParseFault("sulky", &parsed));
}

}  // namespace
