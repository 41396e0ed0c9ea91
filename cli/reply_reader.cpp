#include "cli/reply_reader.h"

#include <algorithm>
#include <array>
#include <optional>

#include "protocol/frames.h"
#include "protocol/reply.h"

namespace morvane::cli {

namespace {

constexpr std::size_t kStatusLength = 4;
constexpr std::size_t kLengthAt = 3;
// The longest value reply: the prefix, header, length byte and 255 bytes.
constexpr std::size_t kMaxReply = 5 + 255;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr int kSettleBytes = 4;
constexpr std::chrono::milliseconds kMinSettle{3};

class RealClock : public Clock {
public:
    TimePoint Now() override { return SteadyClock::now(); }
};

std::string CountText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

bool IsHeader(const std::uint8_t* bytes) { return bytes[0] == kFrameHeader0 && bytes[1] == kFrameHeader1; }

// Where a reply's 1D 46 stands: after the 0x11 prefix of a serial value reply.
std::size_t HeaderAt(ReplyForm form, bool serialLine, const std::uint8_t* bytes, std::size_t count) {
    return serialLine && form == ReplyForm::Value && count > 0 && bytes[0] == kSerialReplyPrefix ? 1 : 0;
}

// Bytes that make a reply of `form` complete, its header at `at`; 0 while
// the length byte has not come.
std::size_t NeedOf(ReplyForm form, std::size_t at, const std::uint8_t* bytes, std::size_t count) {
    if (form == ReplyForm::Status) return at + kStatusLength;
    const std::size_t lengthAt = at + kLengthAt;
    return count > lengthAt ? lengthAt + 1 + bytes[lengthAt] : 0;
}

}  // namespace

const char* ResultName(Result result) {
    switch (result) {
        case Result::Ok: return "ok";
        case Result::Refused: return "refused";
        case Result::NoAnswer: return "no-answer";
        case Result::Error: return "error";
        case Result::NotSent: return "not-sent";
    }
    return "error";
}

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

std::chrono::milliseconds SettleTime(int baud) {
    if (baud <= 0) return kMinSettle;
    const auto byteTimes = std::chrono::milliseconds((kSettleBytes * kBitsPerByte * 1000 + baud - 1) / baud);
    return std::max(kMinSettle, byteTimes);
}

Reply ReadReply(Line& line, Clock& clock, const Expected& expected, int baud, std::chrono::milliseconds timeout) {
    Reply reply;
    std::array<std::uint8_t, kMaxReply> buf{};
    std::size_t got = 0;
    const bool serial = line.IsSerial();
    const ReplyForm form = expected.form;
    const TimePoint deadline = clock.Now() + timeout;
    // Set while an answer to another frame is read, to be dropped whole;
    // its 1D 46 stands at foreignAt.
    std::optional<ReplyForm> foreign;
    std::size_t foreignAt = 0;
    const auto formOf = [&](std::uint8_t code) {
        return expected.formOfCode ? expected.formOfCode(code) : ReplyForm::Status;
    };

    const auto take = [&](std::size_t n) { return Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n)); };
    const auto endWith = [&](Result result, std::string detail) {
        if (foreign) {
            reply.dropped.push_back(take(got));
        } else {
            reply.bytes = take(got);
        }
        reply.result = result;
        reply.detail = std::move(detail);
        if (result == Result::NoAnswer && !reply.dropped.empty())
            reply.detail += " of its own (" + std::to_string(reply.dropped.size()) + " late answer" +
                            (reply.dropped.size() == 1 ? "" : "s") + " to an earlier frame dropped)";
        return reply;
    };

    // Never ask for more than the reply can still need, so that an endless
    // stream is cut where the reply ends.
    for (;;) {
        const std::size_t at = foreign ? foreignAt : HeaderAt(form, serial, buf.data(), got);
        if (!foreign && got >= at + 3 && IsHeader(buf.data() + at) && buf[at + 2] != expected.code) {
            foreign = formOf(buf[at + 2]);
            foreignAt = at;
            continue;
        }
        // A late value reply in the 0x11 form while a status is due.
        if (!foreign && serial && form == ReplyForm::Status && got >= 4 && buf[0] == kSerialReplyPrefix &&
            IsHeader(buf.data() + 1) && buf[3] != expected.code && formOf(buf[3]) == ReplyForm::Value) {
            foreign = ReplyForm::Value;
            foreignAt = 1;
            continue;
        }
        const std::size_t need = NeedOf(foreign.value_or(form), at, buf.data(), got);
        if (need != 0 && got >= need) {
            if (!foreign) break;
            reply.dropped.push_back(take(got));
            if (expected.onDropped) expected.onDropped(reply.dropped.back());
            foreign.reset();
            foreignAt = 0;
            got = 0;
            continue;
        }
        const std::size_t want = (need != 0 ? need : std::max(at + kLengthAt + 1, got + 1)) - got;
        const int n = line.Read(buf.data() + got, want, deadline);
        if (n < 0) {
            const std::string why = line.FailureText();
            return endWith(Result::Error, why.empty() ? "the line failed" : "the line failed: " + why);
        }
        if (n == 0)
            return endWith(Result::NoAnswer,
                           got == 0 || foreign ? "no answer" : "reply cut off after " + CountText(got));
        got += static_cast<std::size_t>(std::min<int>(n, static_cast<int>(want)));
    }

    if (form == ReplyForm::Status && serial) {
        // A 5th byte within the settle time makes it a reply of the wrong
        // length, which the dialog counts as no answer on a serial line.
        // Through the port library it reads 4 bytes and no more: there (and
        // on USB printers and network printers, which follow that path) the
        // reply is the 4 bytes, and what follows waits for the next frame's
        // discard.
        std::uint8_t extra[16];
        // Not cut short by the deadline: a reply complete just before it is
        // judged like any other.
        const TimePoint settled = clock.Now() + std::max(SettleTime(baud), line.MinimumSettle());
        const int n = line.Read(extra, sizeof extra, settled);
        if (n > 0) {
            reply.bytes = take(got);
            reply.bytes.insert(reply.bytes.end(), extra, extra + n);
            reply.result = Result::NoAnswer;
            reply.detail = "status reply longer than 4 bytes";
            return reply;
        }
    }

    reply.bytes = take(got);
    if (form == ReplyForm::Status) {
        reply.result = ParseStatusReply(buf.data(), buf.size(), static_cast<int>(got)) == StatusReply::Failure
                           ? Result::Refused
                           : Result::Ok;
        if (reply.result == Result::Refused) reply.detail = "the printer refused it";
        return reply;
    }
    const std::size_t textAt = HeaderAt(form, serial, buf.data(), got) + kLengthAt + 1;
    const auto begin = buf.begin() + static_cast<std::ptrdiff_t>(textAt);
    const auto end = std::find(begin, buf.begin() + static_cast<std::ptrdiff_t>(got), std::uint8_t{0});
    reply.value.assign(begin, end);
    reply.result = Result::Ok;
    return reply;
}

}  // namespace morvane::cli
