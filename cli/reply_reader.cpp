#include "cli/reply_reader.h"

#include <algorithm>
#include <array>

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

}  // namespace

const char* ResultName(Result result) {
    switch (result) {
        case Result::Ok: return "ok";
        case Result::Refused: return "refused";
        case Result::NoAnswer: return "no-answer";
        case Result::Error: return "error";
    }
    return "error";
}

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

std::size_t CompleteLength(ReplyForm form, bool serialLine, const std::uint8_t* bytes, std::size_t count) {
    if (form == ReplyForm::Status) return kStatusLength;
    if (count == 0) return 0;
    const bool prefixed = serialLine && bytes[0] == kSerialReplyPrefix;
    const std::size_t lengthAt = prefixed ? kLengthAt + 1 : kLengthAt;
    if (count <= lengthAt) return 0;
    return lengthAt + 1 + bytes[lengthAt];
}

std::chrono::milliseconds SettleTime(int baud) {
    if (baud <= 0) return kMinSettle;
    const auto byteTimes = std::chrono::milliseconds((kSettleBytes * kBitsPerByte * 1000 + baud - 1) / baud);
    return std::max(kMinSettle, byteTimes);
}

Reply ReadReply(Line& line, Clock& clock, ReplyForm form, int baud, std::chrono::milliseconds timeout) {
    Reply reply;
    std::array<std::uint8_t, kMaxReply> buf{};
    std::size_t got = 0;
    const bool serial = line.IsSerial();
    const TimePoint deadline = clock.Now() + timeout;

    // Never ask for more than the reply can still need, so that an endless
    // stream is cut where the reply ends.
    for (;;) {
        const std::size_t need = CompleteLength(form, serial, buf.data(), got);
        if (need != 0 && got >= need) break;
        const std::size_t headerNeed =
            serial && got > 0 && buf[0] == kSerialReplyPrefix ? kLengthAt + 2 : kLengthAt + 1;
        const std::size_t want = (need != 0 ? need : std::max(headerNeed, got + 1)) - got;
        const int n = line.Read(buf.data() + got, want, deadline);
        if (n < 0) {
            reply.bytes.assign(buf.begin(), buf.begin() + got);
            reply.result = Result::Error;
            reply.detail = "the line failed";
            return reply;
        }
        if (n == 0) {
            reply.bytes.assign(buf.begin(), buf.begin() + got);
            reply.result = Result::NoAnswer;
            reply.detail = got == 0 ? "no answer" : "reply cut off after " + CountText(got);
            return reply;
        }
        got += static_cast<std::size_t>(std::min<int>(n, static_cast<int>(want)));
    }

    if (form == ReplyForm::Status) {
        // A 5th byte within the settle time makes it a reply of the wrong
        // length, which the dialog counts as no answer.
        std::uint8_t extra[16];
        // Not cut short by the deadline: a reply complete just before it is
        // judged like any other.
        const TimePoint settled = clock.Now() + std::max(SettleTime(baud), line.MinimumSettle());
        const int n = line.Read(extra, sizeof extra, settled);
        if (n > 0) {
            reply.bytes.assign(buf.begin(), buf.begin() + got);
            reply.bytes.insert(reply.bytes.end(), extra, extra + n);
            reply.result = Result::NoAnswer;
            reply.detail = "status reply longer than 4 bytes";
            return reply;
        }
    }

    reply.bytes.assign(buf.begin(), buf.begin() + got);
    if (form == ReplyForm::Status) {
        reply.result = ParseStatusReply(buf.data(), buf.size(), static_cast<int>(got)) == StatusReply::Failure
                           ? Result::Refused
                           : Result::Ok;
        if (reply.result == Result::Refused) reply.detail = "the printer refused it";
        return reply;
    }
    const bool prefixed = serial && buf[0] == kSerialReplyPrefix;
    const std::size_t textAt = (prefixed ? kLengthAt + 1 : kLengthAt) + 1;
    const auto begin = buf.begin() + static_cast<std::ptrdiff_t>(textAt);
    const auto end = std::find(begin, buf.begin() + static_cast<std::ptrdiff_t>(got), std::uint8_t{0});
    reply.value.assign(begin, end);
    reply.result = Result::Ok;
    return reply;
}

}  // namespace morvane::cli
