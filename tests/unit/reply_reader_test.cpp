// The command's reply reader: a reply ends as soon as it is complete, is
// judged as the dialog judges it, is never another frame's answer, a tail,
// or the line's echo, and never waits past its time-out whatever comes. The
// line and the clock are fakes, so the waits cost nothing.
#include "cli/run/reply_reader.h"

#include <gtest/gtest.h>

#include "fake_line.h"

namespace {

using namespace morvane::cli;
using morvane::cli::fakes::FakeClock;
using morvane::cli::fakes::FakeLine;
using std::chrono::milliseconds;

constexpr milliseconds kTimeout{1000};
constexpr int k9600 = 9600;
const Bytes kSetDarkness = {0x1D, 0x46, 0x7C, 0x04};
const Bytes kReadName = {0x1D, 0x46, 0x72, 0x00};
const Bytes kReadAddress = {0x1D, 0x46, 0x74};
const Bytes kBeeperOn = {0x1D, 0x46, 0x79, 0x00};
const Bytes kPosition = {0x1D, 0x46, 0x82, 0x00, 0x00, 0x00, 0x00, 0x1C};

struct Piece {
    int atMs;
    Bytes bytes;
};

// What the far end does with the check frame: nothing, send it back, or
// answer it as a printer does (at once, or its header first and the rest
// 40 ms later), or send it back with stray bytes after it.
enum class Check { Ignored, Echoed, Answered, AnsweredInPieces, EchoedThenStray };

struct Scene {
    FakeClock clock;
    FakeLine line;
    LineState state;
    Check check = Check::Ignored;
    int checks = 0;
    explicit Scene(bool serial = true) : line(clock, serial) {}
    long long Ms() const { return std::chrono::duration_cast<milliseconds>(clock.now - TimePoint{}).count(); }

    Reply Read(const Bytes& frame, ReplyForm form, milliseconds timeout = kTimeout) {
        Expected expected;
        expected.form = form;
        expected.frame = frame;
        expected.sendCheck = [this](const Bytes& sent) {
            ++checks;
            const int now = static_cast<int>(Ms());
            if (check == Check::Echoed) line.Arrive(now, sent);
            const std::string address = "00:1B:DC:0F:11:22";
            Bytes answer{0x1D, 0x46, 0x74, static_cast<std::uint8_t>(address.size())};
            answer.insert(answer.end(), address.begin(), address.end());
            if (check == Check::Answered) line.Arrive(now + 2, answer);
            if (check == Check::AnsweredInPieces) {
                line.Arrive(now + 2, Bytes(answer.begin(), answer.begin() + 3));
                line.Arrive(now + 40, Bytes(answer.begin() + 3, answer.end()));
            }
            if (check == Check::EchoedThenStray) {
                line.Arrive(now, sent);
                line.Arrive(now + 1, {0x01, '8'});  // a one-character "address"
                line.Arrive(now + 5, {0x09, 'Q', 'x', '7', '!', '?', 'z', 'k', 'p', 'w'});
            }
            return true;
        };
        return ReadReply(line, clock, expected, state, line.IsSerial() ? k9600 : 0, timeout);
    }
    Reply Status(const Bytes& frame = kSetDarkness) { return Read(frame, ReplyForm::Status); }
};

TEST(ReplyReader, StatusReplyIsTrustedAfterTheLineStaysQuiet) {
    Scene r;
    r.line.Arrive(3, {0x1D, 0x46, 0x7C});
    r.line.Arrive(4, {0x00});
    EXPECT_EQ(r.Status().result, Result::Ok);
    // Complete at 4 ms, then the settle time: far from the 1000 ms time-out.
    EXPECT_EQ(r.Ms(), 4 + SettleTime(k9600).count());
    EXPECT_GE(SettleTime(k9600), milliseconds(4));   // four characters at 9600 baud
    EXPECT_GE(SettleTime(115200), milliseconds(3));  // never less than scheduling can promise
    EXPECT_EQ(r.state.echo, LineState::Echo::Quiet) << "its own answer came first: the line does not echo";
}

TEST(ReplyReader, FifthByteMakesAStatusReplyNoAnswer) {
    Scene r;
    r.line.Arrive(2, {0x1D, 0x46, 0x7C, 0x00});
    r.line.Arrive(5, {0x00});
    EXPECT_EQ(r.Status().result, Result::NoAnswer);
    Scene prefixed;  // the 0x11 form has no place in a status reply
    prefixed.line.Arrive(1, {0x11, 0x1D, 0x46, 0x7C, 0x00});
    EXPECT_EQ(prefixed.Status().result, Result::NoAnswer);

    // Off serial lines a reply that names its frame is its first 4 bytes,
    // as the port library reads them, and it is judged at once.
    Scene usb(false);
    usb.line.Arrive(2, {0x1D, 0x46, 0x7C, 0x00});
    usb.line.Arrive(3, {0x00});
    EXPECT_EQ(usb.Status().result, Result::Ok);
    EXPECT_EQ(usb.line.consumed, 4u);
    EXPECT_EQ(usb.Ms(), 2);
    EXPECT_TRUE(usb.state.dirty == false);
}

TEST(ReplyReader, RefusedSilentAndCutOff) {
    Scene refused;
    refused.line.Arrive(1, {0x1D, 0x46, 0x7C, 0xFF});
    EXPECT_EQ(refused.Status().result, Result::Refused);
    Scene fe;  // only 0xFF is a refusal
    fe.line.Arrive(1, {0x1D, 0x46, 0x7C, 0xFE});
    EXPECT_EQ(fe.Status().result, Result::Ok);

    Scene silent;
    EXPECT_EQ(silent.Status().result, Result::NoAnswer);
    EXPECT_EQ(silent.Ms(), kTimeout.count());
    EXPECT_TRUE(silent.state.Owes(0x7C, silent.clock.now)) << "its answer may still come";

    Scene cut;  // a value of 8 bytes of which 2 came
    cut.line.Arrive(1, {0x1D, 0x46, 0x72, 0x08, 'a', 'b'});
    const Reply reply = cut.Read(kReadName, ReplyForm::Value);
    EXPECT_EQ(reply.result, Result::NoAnswer);
    EXPECT_NE(reply.detail.find("cut off after 6 bytes"), std::string::npos) << reply.detail;
    EXPECT_EQ(cut.Ms(), kTimeout.count());
}

TEST(ReplyReader, ValueReplies) {
    const struct {
        const char* name;
        bool serial;
        Bytes frame;
        Bytes bytes;
        std::string value;
    } cases[] = {
        {"ends at its length", true, kReadName, {0x1D, 0x46, 0x72, 0x04, 'S', 'h', 'o', 'p'}, "Shop"},
        {"the text ends at a zero byte", true, kReadName, {0x1D, 0x46, 0x72, 0x03, 'a', 0, 'b'}, "a"},
        {"length 0 is an empty text", true, kReadAddress, {0x1D, 0x46, 0x74, 0x00}, ""},
        {"the 0x11 form on serial lines", true, kReadName, {0x11, 0x1D, 0x46, 0x72, 0x02, 'A', 'B'}, "AB"},
        {"the length is byte 3 off them", false, kReadName, {0x11, 0x1D, 0x46, 0x02, 'P', 'Q'}, "PQ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene r(c.serial);
        r.line.Arrive(1, c.bytes);
        const Reply reply = r.Read(c.frame, ReplyForm::Value);
        EXPECT_EQ(reply.result, Result::Ok) << reply.detail;
        EXPECT_EQ(reply.value, c.value);
        EXPECT_LT(r.Ms(), 20);
    }

    Scene stream;  // what follows is not read, and is no clean start for the next frame
    stream.line.Arrive(1, {0x1D, 0x46, 0x72, 0xFF});
    stream.line.Arrive(2, Bytes(5000, 'z'));
    const Reply reply = stream.Read(kReadName, ReplyForm::Value);
    EXPECT_EQ(reply.value.size(), 255u);
    EXPECT_EQ(stream.line.consumed, 259u);
}

// Whatever arrives, the wait ends at its deadline and keeps only a few
// hundred bytes of what it dropped.
TEST(ReplyReader, AFloodNeitherStretchesTheWaitNorFillsMemory) {
    for (const Bytes& unit : {Bytes{0x1D, 0x46, 0x00, 0x00}, Bytes{'z'}, Bytes{0x1D}}) {
        Scene r(false);
        Bytes burst;
        for (int i = 0; i < 250; ++i) burst.insert(burst.end(), unit.begin(), unit.end());
        for (int at = 1; at < 20000; at += 2) r.line.Arrive(at, burst);
        const Reply reply = r.Read(kSetDarkness, ReplyForm::Status, milliseconds(300));
        EXPECT_EQ(reply.result, Result::NoAnswer);
        EXPECT_LE(r.Ms(), 300 + SettleTime(0).count());
        std::size_t kept = 0;
        for (const Bytes& d : reply.dropped) kept += d.size();
        EXPECT_LE(kept, 2048u);
        EXPECT_GT(reply.droppedBytes, 10000u);
    }
}

// A late answer to another frame is not this frame's answer, whatever it
// says, nor is anything that follows it; the wait for the right one goes on
// to the deadline.
TEST(ReplyReader, AnAnswerToAnotherFrameAndItsTailAreDroppedWhole) {
    const struct {
        const char* name;
        bool serial;
        Bytes frame;
        ReplyForm form;
        std::vector<Piece> pieces;
        Result result;
        std::string value;
    } cases[] = {
        {"a late ok, then the refusal",
         true,
         {0x1D, 0x46, 0x82, 0, 0, 0, 0, 1},
         ReplyForm::Status,
         {{200, {0x1D, 0x46, 0x7C, 0x00}}, {300, {0x1D, 0x46, 0x82, 0xFF}}},
         Result::Refused,
         ""},
        {"a late ok alone is no answer",
         true,
         kSetDarkness,
         ReplyForm::Status,
         {{200, {0x1D, 0x46, 0x7B, 0x00}}},
         Result::NoAnswer,
         ""},
        {"a late refusal is no length byte",
         true,
         kReadName,
         ReplyForm::Value,
         {{5, {0x1D, 0x46, 0x7C, 0xFF}}, {9, {0x1D, 0x46, 0x72, 0x02, 'A', 'B'}}},
         Result::Ok,
         "AB"},
        {"a late address while a status is due",
         true,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {0x1D, 0x46, 0x74, 0x03, 'a', 'b', 'c', 0x1D, 0x46, 0x7C, 0x00}}},
         Result::Ok,
         ""},
        {"a late name: its text is never the status",
         true,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {0x1D, 0x46, 0x72, 0x04}}, {40, {'S', 'h', 'o', 'p'}}},
         Result::NoAnswer,
         ""},
        {"a late name over TCP, then the answer",
         false,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {0x1D, 0x46, 0x72, 0x04}}, {40, {'S', 'h', 'o', 'p'}}, {60, {0x1D, 0x46, 0x7C, 0xFF}}},
         Result::Refused,
         ""},
        {"the prefixed form on a serial line",
         true,
         kReadAddress,
         ReplyForm::Value,
         {{5, {0x11, 0x1D, 0x46, 0x72, 0x02, 'x', 'y'}}, {8, {0x11, 0x1D, 0x46, 0x74, 0x01, 'Z'}}},
         Result::Ok,
         "Z"},
        {"no 1D 46, alone: judged as the dialog does",
         true,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {0x00, 0x00, 0x00, 0x00}}},
         Result::Ok,
         ""},
        {"no 1D 46 after a foreign answer: junk",
         false,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {0x1D, 0x46, 0x7B, 0x00}}, {9, {0x00, 0x00, 0x00, 0x00}}},
         Result::NoAnswer,
         ""},
        {"no 1D 46 with more after it, off serial lines: not a reply",
         false,
         kSetDarkness,
         ReplyForm::Status,
         {{5, {'j', 'u', 'n', 'k', '!'}}, {7, {0x1D, 0x46, 0x7C, 0xFF}}},
         Result::Refused,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene r(c.serial);
        for (const Piece& p : c.pieces) r.line.Arrive(p.atMs, p.bytes);
        std::vector<Bytes> told;
        const Reply reply = r.Read(c.frame, c.form);
        EXPECT_EQ(reply.result, c.result) << reply.detail;
        EXPECT_EQ(reply.value, c.value);
    }
}

// What was dropped before a frame, or an answer still owed, makes the line
// strict: only a reply that names the frame counts.
TEST(ReplyReader, AfterDroppedBytesOnlyAReplyThatNamesTheFrameCounts) {
    Scene dirty(false);
    dirty.state.dirty = true;  // the head of something was discarded before the frame
    dirty.line.Arrive(3, {'S', 'h', 'o', 'p'});
    EXPECT_EQ(dirty.Status().result, Result::NoAnswer);

    Scene owed(false);
    owed.state.Owe(0x7B, ReplyForm::Status, owed.clock.now + milliseconds(5000));
    owed.line.Arrive(3, {0x00, 0x00, 0x00, 0x00});
    owed.line.Arrive(5, {0x1D, 0x46, 0x7C, 0x00});
    EXPECT_EQ(owed.Status().result, Result::Ok);
    EXPECT_EQ(owed.line.consumed, 8u);

    LineState state;
    state.Owe(0x72, ReplyForm::Value, TimePoint{} + milliseconds(100));
    state.Owe(0x7C, ReplyForm::Status, TimePoint{} + milliseconds(100));
    AnswerSpotter spotter(state);
    const Bytes head = {'x', 0x1D};
    const Bytes tail = {0x46, 0x72, 0x00};
    spotter.Feed(head.data(), head.size());  // a header cut between two reads
    spotter.Feed(tail.data(), tail.size());
    EXPECT_FALSE(state.Owes(0x72, TimePoint{}));
    EXPECT_TRUE(state.Owes(0x7C, TimePoint{}));
    state.Forget(TimePoint{} + milliseconds(100));
    EXPECT_FALSE(state.OwesAny(TimePoint{}));
}

// A line that sends back what it is sent never gets "ok"; a printer that
// answers by copying its frame keeps it, and so does one behind an echo.
TEST(ReplyReader, ALineThatEchoesIsNeverOk) {
    const struct {
        const char* name;
        Bytes frame;
        ReplyForm form;
        Check check;
        std::vector<Piece> pieces;  // after the frame's own bytes at 1 ms
        Result result;
        LineState::Echo learnt;
        int checks;
    } cases[] = {
        {"a loopback: the check comes back too",
         kSetDarkness,
         ReplyForm::Status,
         Check::Echoed,
         {},
         Result::NoAnswer,
         LineState::Echo::Echoes,
         1},
        {"a loopback on a read",
         kReadName,
         ReplyForm::Value,
         Check::Echoed,
         {},
         Result::NoAnswer,
         LineState::Echo::Echoes,
         1},
        {"an echo, then the printer's own answer",
         kSetDarkness,
         ReplyForm::Status,
         Check::Echoed,
         {{3, {0x1D, 0x46, 0x7C, 0xFF}}},
         Result::Refused,
         LineState::Echo::Echoes,
         0},
        {"an echo, and the answer after the check",
         kBeeperOn,
         ReplyForm::Status,
         Check::Echoed,
         {{30, {0x1D, 0x46, 0x79, 0x00}}},
         Result::Ok,
         LineState::Echo::Echoes,
         1},
        {"a printer that acks with a copy",
         kSetDarkness,
         ReplyForm::Status,
         Check::Answered,
         {},
         Result::Ok,
         LineState::Echo::Quiet,
         1},
        {"an echo of the check, and stray bytes like an address",
         kSetDarkness,
         ReplyForm::Status,
         Check::EchoedThenStray,
         {},
         Result::NoAnswer,
         LineState::Echo::Echoes,
         1},
        {"a copy, and the check's answer in pieces",
         kSetDarkness,
         ReplyForm::Status,
         Check::AnsweredInPieces,
         {},
         Result::Ok,
         LineState::Echo::Quiet,
         1},
        {"its answer is the frame's bytes (beeper on)",
         kBeeperOn,
         ReplyForm::Status,
         Check::Answered,
         {},
         Result::Ok,
         LineState::Echo::Quiet,
         1},
        {"an empty name read", kReadName, ReplyForm::Value, Check::Answered, {}, Result::Ok, LineState::Echo::Quiet, 1},
        {"a check that draws nothing proves nothing",
         kSetDarkness,
         ReplyForm::Status,
         Check::Ignored,
         {},
         Result::NoAnswer,
         LineState::Echo::Unknown,
         1},
        {"the read-address frame alone is no reply",
         kReadAddress,
         ReplyForm::Value,
         Check::Echoed,
         {},
         Result::NoAnswer,
         LineState::Echo::Unknown,
         0},
        {"the read-address frame, echoed, then its answer",
         kReadAddress,
         ReplyForm::Value,
         Check::Echoed,
         {{4, {0x1D, 0x46, 0x74, 0x01, 'Q'}}},
         Result::Ok,
         LineState::Echo::Echoes,
         0},
        {"a position answer that begins as its frame does",
         kPosition,
         ReplyForm::Status,
         Check::Echoed,
         {},
         Result::Ok,
         LineState::Echo::Unknown,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene r;
        r.check = c.check;
        // The position case: its printer answers 1D 46 82 00, a prefix of the frame.
        r.line.Arrive(1, c.frame.size() == 8 ? Bytes(c.frame.begin(), c.frame.begin() + 4) : c.frame);
        for (const Piece& p : c.pieces) r.line.Arrive(p.atMs, p.bytes);
        const Reply reply = r.Read(c.frame, c.form);
        EXPECT_EQ(reply.result, c.result) << reply.detail;
        EXPECT_EQ(r.state.echo, c.learnt);
        EXPECT_EQ(r.checks, c.checks);
        if (c.result == Result::NoAnswer && c.learnt == LineState::Echo::Echoes) {
            EXPECT_TRUE(reply.echoed);
            EXPECT_EQ(reply.detail, kEchoDetail);
        }
        if (c.frame.size() == 8) {
            EXPECT_LT(r.Ms(), 50) << "a prompt answer waited for the rest of an echo";
        }
    }

    // Once the line is known to echo, each frame's echo is dropped at once.
    Scene known;
    known.state.echo = LineState::Echo::Echoes;
    known.line.Arrive(1, kSetDarkness);
    known.line.Arrive(6, {0x1D, 0x46, 0x7C, 0x00});
    EXPECT_EQ(known.Status().result, Result::Ok);
    EXPECT_EQ(known.checks, 0);
}

}  // namespace

// A status byte of 1D that quiet follows is a header cut short, on a clean
// line and after stray bytes alike; and bytes the thread takes only after
// the deadline prove nothing, however they read.
TEST(ReplyReader, NeitherAHeaderCutShortNorBytesReadLateAreOk) {
    for (const bool dirty : {false, true}) {
        SCOPED_TRACE(dirty ? "a dirty line" : "a clean line");
        Scene r(false);
        r.state.dirty = dirty;
        r.line.Arrive(3, {0x1D, 0x46, 0x7C, 0x1D});
        EXPECT_EQ(r.Status().result, Result::NoAnswer);
    }
    Scene late(false);
    late.line.Arrive(kTimeout.count() + 40, {0x1D, 0x46, 0x7C, 0x00});
    // The thread wakes 60 ms past the deadline; the answer came at 40.
    late.line.onRead = [&late] {
        late.clock.now = std::max(late.clock.now, TimePoint{} + kTimeout + milliseconds(60));
    };
    EXPECT_EQ(late.Status().result, Result::NoAnswer);
}
