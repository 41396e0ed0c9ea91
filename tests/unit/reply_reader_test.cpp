// The command's reply reader: a reply ends as soon as it is complete, is
// judged as the dialog judges it, and never waits past its time-out. The
// line and the clock are fakes, so the waits cost nothing.
#include "cli/reply_reader.h"

#include <gtest/gtest.h>

#include "fake_line.h"

namespace {

using namespace morvane::cli;
using morvane::cli::fakes::FakeClock;
using morvane::cli::fakes::FakeLine;
using std::chrono::milliseconds;

constexpr milliseconds kTimeout{1000};
constexpr int k9600 = 9600;
constexpr std::uint8_t kDarkness = 0x7C;
constexpr std::uint8_t kName = 0x72;
constexpr std::uint8_t kAddress = 0x74;

struct Scene {
    FakeClock clock;
    FakeLine line{clock, true};
    // A status reply answers darkness (7C) here, a value reply the name (72).
    Reply Read(ReplyForm form) {
        return ReadReply(line, clock, {form, form == ReplyForm::Status ? kDarkness : kName, {}, {}}, k9600, kTimeout);
    }
    long long Ms() const { return std::chrono::duration_cast<milliseconds>(clock.now - TimePoint{}).count(); }
};

TEST(ReplyReader, StatusReplyIsTrustedAfterTheLineStaysQuiet) {
    Scene r;
    r.line.Arrive(3, {0x1D, 0x46, 0x7C});
    r.line.Arrive(4, {0x00});
    const Reply reply = r.Read(ReplyForm::Status);
    EXPECT_EQ(reply.result, Result::Ok);
    // Complete at 4 ms, then the settle time: far from the 1000 ms time-out.
    EXPECT_EQ(r.Ms(), 4 + SettleTime(k9600).count());
    EXPECT_GE(SettleTime(k9600), milliseconds(4));   // four characters at 9600 baud
    EXPECT_GE(SettleTime(115200), milliseconds(3));  // never less than scheduling can promise
}

TEST(ReplyReader, FifthByteMakesAStatusReplyNoAnswer) {
    Scene r;
    r.line.Arrive(2, {0x1D, 0x46, 0x7C, 0x00});
    r.line.Arrive(5, {0x00});
    EXPECT_EQ(r.Read(ReplyForm::Status).result, Result::NoAnswer);
    Scene prefixed;  // the 0x11 form has no place in a status reply
    prefixed.line.Arrive(1, {0x11, 0x1D, 0x46, 0x7C, 0x00});
    EXPECT_EQ(prefixed.Read(ReplyForm::Status).result, Result::NoAnswer);

    // Off serial lines the reply is the first 4 bytes, as the port library
    // reads them, and it is judged at once.
    FakeClock clock;
    FakeLine usb(clock, false);
    usb.Arrive(2, {0x1D, 0x46, 0x7C, 0x00});
    usb.Arrive(3, {0x00});
    EXPECT_EQ(ReadReply(usb, clock, {ReplyForm::Status, kDarkness, {}, {}}, 0, kTimeout).result, Result::Ok);
    EXPECT_EQ(usb.consumed, 4u);
    EXPECT_EQ(clock.now - TimePoint{}, milliseconds(2));
}

TEST(ReplyReader, RefusedSilentAndCutOff) {
    Scene refused;
    refused.line.Arrive(1, {0x1D, 0x46, 0x7C, 0xFF});
    EXPECT_EQ(refused.Read(ReplyForm::Status).result, Result::Refused);
    Scene fe;  // only 0xFF is a refusal
    fe.line.Arrive(1, {0x1D, 0x46, 0x7C, 0xFE});
    EXPECT_EQ(fe.Read(ReplyForm::Status).result, Result::Ok);

    Scene silent;
    EXPECT_EQ(silent.Read(ReplyForm::Status).result, Result::NoAnswer);
    EXPECT_EQ(silent.Ms(), kTimeout.count());

    Scene cut;  // a value of 8 bytes of which 2 came
    cut.line.Arrive(1, {0x1D, 0x46, 0x72, 0x08, 'a', 'b'});
    const Reply reply = cut.Read(ReplyForm::Value);
    EXPECT_EQ(reply.result, Result::NoAnswer);
    EXPECT_NE(reply.detail.find("cut off after 6 bytes"), std::string::npos) << reply.detail;
    EXPECT_EQ(cut.Ms(), kTimeout.count());
}

TEST(ReplyReader, ValueReplyEndsAtItsLength) {
    Scene r;
    r.line.Arrive(1, {0x1D, 0x46, 0x72, 0x04});
    r.line.Arrive(2, {'S', 'h', 'o', 'p', 'X', 'X', 'X'});  // what follows is not read
    const Reply reply = r.Read(ReplyForm::Value);
    EXPECT_EQ(reply.result, Result::Ok);
    EXPECT_EQ(reply.value, "Shop");
    EXPECT_EQ(r.line.consumed, 8u);
    EXPECT_EQ(r.Ms(), 2);

    Scene zero;  // the text ends at a zero byte; length 0 is an empty text
    zero.line.Arrive(1, {0x1D, 0x46, 0x72, 0x03, 'a', 0, 'b'});
    EXPECT_EQ(zero.Read(ReplyForm::Value).value, "a");
    Scene empty;
    empty.line.Arrive(1, {0x1D, 0x46, 0x72, 0x00});
    EXPECT_EQ(empty.Read(ReplyForm::Value).result, Result::Ok);
}

TEST(ReplyReader, PrefixFormOnlyOnSerialLines) {
    Scene serial;
    serial.line.Arrive(1, {0x11, 0x1D, 0x46, 0x72, 0x02, 'A', 'B'});
    EXPECT_EQ(serial.Read(ReplyForm::Value).value, "AB");

    FakeClock clock;
    FakeLine usb(clock, false);  // through a USB line the length is byte 3
    usb.Arrive(1, {0x11, 0x1D, 0x46, 0x02, 'A', 'B'});
    const Reply reply = ReadReply(usb, clock, {ReplyForm::Value, kName, {}, {}}, 0, kTimeout);
    EXPECT_EQ(reply.result, Result::Ok);
    EXPECT_EQ(reply.value, "AB");
}

TEST(ReplyReader, EndlessStreamIsCutWhereTheReplyEnds) {
    Scene r;
    r.line.Arrive(1, {0x1D, 0x46, 0x72, 0xFF});
    r.line.Arrive(2, std::vector<std::uint8_t>(5000, 'z'));
    const Reply reply = r.Read(ReplyForm::Value);
    EXPECT_EQ(reply.result, Result::Ok);
    EXPECT_EQ(reply.value.size(), 255u);
    EXPECT_EQ(r.line.consumed, 259u);

    Scene status;  // a stream after a status reply: no answer, at once
    status.line.Arrive(1, std::vector<std::uint8_t>(5000, 0x1D));
    EXPECT_EQ(status.Read(ReplyForm::Status).result, Result::NoAnswer);
    EXPECT_LT(status.line.consumed, 64u);
}

// A late answer to an earlier frame is not this frame's answer, whatever it
// says; the wait for the right one goes on to the deadline.
TEST(ReplyReader, AnAnswerNamingAnotherCodeIsDroppedWhole) {
    struct Piece {
        int atMs;
        std::vector<std::uint8_t> bytes;
    };
    const struct {
        const char* name;
        bool serial;
        ReplyForm form;
        std::uint8_t code;
        std::vector<Piece> pieces;
        Result result;
        std::string value;
        std::size_t dropped;
    } cases[] = {
        {"a late ok, then the refusal",
         true,
         ReplyForm::Status,
         0x82,
         {{200, {0x1D, 0x46, 0x7C, 0x00}}, {300, {0x1D, 0x46, 0x82, 0xFF}}},
         Result::Refused,
         "",
         1},
        {"a late ok alone is no answer",
         true,
         ReplyForm::Status,
         0x82,
         {{200, {0x1D, 0x46, 0x7C, 0x00}}},
         Result::NoAnswer,
         "",
         1},
        {"a late refusal is no length byte",
         true,
         ReplyForm::Value,
         kName,
         {{5, {0x1D, 0x46, 0x7C, 0xFF}}, {9, {0x1D, 0x46, kName, 0x02, 'A', 'B'}}},
         Result::Ok,
         "AB",
         1},
        {"a late value while a status is due",
         true,
         ReplyForm::Status,
         kDarkness,
         {{5, {0x1D, 0x46, kAddress, 0x03, 'a', 'b', 'c', 0x1D, 0x46, kDarkness, 0x00}}},
         Result::Ok,
         "",
         1},
        {"the prefixed form on a serial line",
         true,
         ReplyForm::Value,
         kAddress,
         {{5, {0x11, 0x1D, 0x46, kName, 0x02, 'x', 'y'}}, {8, {0x11, 0x1D, 0x46, kAddress, 0x01, 'Z'}}},
         Result::Ok,
         "Z",
         1},
        {"no 1D 46: judged as the dialog does",
         true,
         ReplyForm::Status,
         kDarkness,
         {{5, {0x00, 0x00, 0x00, 0x00}}},
         Result::Ok,
         "",
         0},
        {"no 0x11 form off serial lines",
         false,
         ReplyForm::Value,
         kAddress,
         {{5, {0x11, 0x1D, 0x46, 0x02, 'P', 'Q'}}},
         Result::Ok,
         "PQ",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        FakeLine line(clock, c.serial);
        for (const Piece& p : c.pieces) line.Arrive(p.atMs, p.bytes);
        std::vector<Bytes> told;
        const Expected expected{
            c.form, c.code,
            [](std::uint8_t code) { return code == kAddress || code == kName ? ReplyForm::Value : ReplyForm::Status; },
            [&](const Bytes& b) { told.push_back(b); }};
        const Reply reply = ReadReply(line, clock, expected, k9600, kTimeout);
        EXPECT_EQ(reply.result, c.result) << reply.detail;
        EXPECT_EQ(reply.value, c.value);
        EXPECT_EQ(reply.dropped.size(), c.dropped);
        EXPECT_EQ(told, reply.dropped);
    }
}

}  // namespace
