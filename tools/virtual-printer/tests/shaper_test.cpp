// Each misbehaviour as the shaper puts it on the line: the bytes and when
// each piece leaves, without a line or a clock.

#include <gtest/gtest.h>

#include "pty_client.h"
#include "reply_shaper.h"

namespace {

using vprinter::Behaviour;
using vprinter::Bytes;
using vprinter::Offset;
using vprinter::ShapedReply;
using vprinter_test::Hex;

const Bytes kSetDarkness = {0x1D, 0x46, 0x7C, 0x04};
const Bytes kReadName = {0x1D, 0x46, 0x72, 0x00};

ShapedReply Shape(const Behaviour& behaviour, const Bytes& frame) {
    vprinter::Settings settings;
    settings.name = "Kiosk";
    return vprinter::ShapeReply(vprinter::AnswerFrame(frame, &settings), behaviour);
}

// The pieces joined, checked against the whole reply they were cut from.
Bytes Joined(const ShapedReply& shaped) {
    Bytes all;
    for (const auto& piece : shaped.pieces) all.insert(all.end(), piece.bytes.begin(), piece.bytes.end());
    EXPECT_EQ(Hex(all), Hex(shaped.reply)) << "the pieces are not the reply";
    return all;
}

struct ShapeCase {
    const char* what;
    Behaviour behaviour;
    Bytes frame;
    const char* expected;
};

TEST(ShapeReply, ShapesTheAnswer) {
    const ShapeCase cases[] = {
        {"none", Behaviour::Normal(), kSetDarkness, "1D 46 7C 00"},
        {"wrong length", Behaviour::WrongLength(), kSetDarkness, "1D 46 7C 00 00"},
        {"wrong length by 3", Behaviour::WrongLength(3), kSetDarkness, "1D 46 7C 00 00 00 00"},
        {"truncated", Behaviour::Truncated(), kSetDarkness, "1D 46 7C"},
        {"truncated to 2", Behaviour::Truncated(2), kSetDarkness, "1D 46"},
        {"answer FF", Behaviour::AnswerFF(), kSetDarkness, "1D 46 7C FF"},
        {"prefix 11, status", Behaviour::Prefix11(), kSetDarkness, "11 1D 46 7C 00"},
        {"prefix 11, value", Behaviour::Prefix11(), kReadName, "11 1D 46 72 05 4B 69 6F 73 6B"},
        {"stray", Behaviour::Stray(), kSetDarkness, "00 55 AA 1D 46 7C 00"},
        {"stray chosen", Behaviour::Stray({0x42}), kSetDarkness, "42 1D 46 7C 00"},
        {"value length 0", Behaviour::ValueLength(0), kReadName, "1D 46 72 00 4B 69 6F 73 6B"},
        {"value length 2 padded", Behaviour::ValueLength(2, true), kReadName, "1D 46 72 02 4B 69"},
        {"value length 7 padded", Behaviour::ValueLength(7, true), kReadName, "1D 46 72 07 4B 69 6F 73 6B 41 41"},
        {"value length on a status", Behaviour::ValueLength(9), kSetDarkness, "1D 46 7C 00"},
        {"answer FF on a value", Behaviour::AnswerFF(), kReadName, "1D 46 72 FF 4B 69 6F 73 6B"},
        {"truncated value", Behaviour::Truncated(3), kReadName, "1D 46 72"},
    };
    for (const auto& c : cases) {
        const ShapedReply shaped = Shape(c.behaviour, c.frame);
        EXPECT_TRUE(shaped.answered) << c.what;
        EXPECT_FALSE(shaped.hangup) << c.what;
        EXPECT_EQ(Hex(Joined(shaped)), c.expected) << c.what;
        for (const auto& piece : shaped.pieces) EXPECT_EQ(piece.at.count(), 0) << c.what << ": not at once";
    }
}

TEST(ShapeReply, ValueLength255) {
    EXPECT_EQ(Hex(Joined(Shape(Behaviour::ValueLength(255), kReadName))), "1D 46 72 FF 4B 69 6F 73 6B");

    const Bytes got = Joined(Shape(Behaviour::ValueLength(255, true), kReadName));
    ASSERT_EQ(got.size(), 4u + 255u) << Hex(got);
    EXPECT_EQ(got[3], 0xFF);
    EXPECT_EQ(std::string(got.begin() + 4, got.begin() + 9), "Kiosk");
    EXPECT_EQ(got.back(), 'A');
}

TEST(ShapeReply, SilentAndHangupSayNothing) {
    ShapedReply shaped = Shape(Behaviour::Silent(), kSetDarkness);
    EXPECT_FALSE(shaped.answered);
    EXPECT_TRUE(shaped.pieces.empty());
    EXPECT_FALSE(shaped.hangup);

    shaped = Shape(Behaviour::Hangup(250, 900), kSetDarkness);
    EXPECT_FALSE(shaped.answered);
    EXPECT_TRUE(shaped.pieces.empty());
    EXPECT_TRUE(shaped.hangup);
    EXPECT_EQ(shaped.hangupAt, std::chrono::milliseconds(250));
    EXPECT_EQ(shaped.reopenAfterMs, 900);
}

// Offsets of the pieces, as "bytes@ms" joined by commas.
std::string Timeline(const ShapedReply& shaped) {
    std::string out;
    for (const auto& piece : shaped.pieces) {
        if (!out.empty()) out += ", ";
        out += Hex(piece.bytes) + "@" +
               std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(piece.at).count());
    }
    return out;
}

TEST(ShapeReply, TimesLateAnswersAndPieces) {
    EXPECT_EQ(Timeline(Shape(Behaviour::Late(800), kSetDarkness)), "1D 46 7C 00@800");
    EXPECT_EQ(Timeline(Shape(Behaviour::Pieces(1, 300), kSetDarkness)), "1D@0, 46@300, 7C@600, 00@900");
    EXPECT_EQ(Timeline(Shape(Behaviour::Pieces(3, 300), kSetDarkness)), "1D 46 7C@0, 00@300");
    EXPECT_EQ(Timeline(Shape(Behaviour::Pieces(0, 50), kSetDarkness)), "1D@0, 46@50, 7C@100, 00@150")
        << "a piece size of 0 is taken as 1";
}

}  // namespace

namespace {

std::string MicroTimeline(const ShapedReply& shaped) {
    std::string out;
    for (const auto& piece : shaped.pieces) {
        if (!out.empty()) out += ", ";
        out += Hex(piece.bytes) + "@" + std::to_string(piece.at.count());
    }
    return out;
}

TEST(PaceOnWire, EachByteLeavesAByteTimeAfterTheLast) {
    const Offset byteTime = vprinter::ByteTime(9600);
    EXPECT_EQ(byteTime.count(), 1041);
    EXPECT_EQ(vprinter::ByteTime(115200).count(), 86);

    ShapedReply shaped = Shape(Behaviour::Normal(), kSetDarkness);
    vprinter::PaceOnWire(&shaped, byteTime);
    EXPECT_EQ(MicroTimeline(shaped), "1D@1041, 46@2082, 7C@3123, 00@4164");
    EXPECT_EQ(Hex(Joined(shaped)), "1D 46 7C 00");

    // A pause shorter than the wire needs is swallowed by it; a longer one stays.
    shaped = Shape(Behaviour::Pieces(2, 1), kSetDarkness);
    vprinter::PaceOnWire(&shaped, byteTime);
    EXPECT_EQ(MicroTimeline(shaped), "1D@1041, 46@2082, 7C@3123, 00@4164");
    shaped = Shape(Behaviour::Pieces(2, 10), kSetDarkness);
    vprinter::PaceOnWire(&shaped, byteTime);
    EXPECT_EQ(MicroTimeline(shaped), "1D@1041, 46@2082, 7C@11041, 00@12082");
}

}  // namespace
