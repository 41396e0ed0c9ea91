// The command's reply reader against hostile printers. Input: a flags byte
// (bit 0: value reply, bit 1: serial line), then pieces of a length byte, a
// delay byte in ms and the bytes. Checked against a plain reading of the
// two reply forms: never more read than the reply needs, a value only when
// all of it came, a status only when exactly 4 bytes came.
#include <algorithm>
#include <cstring>

#include "fake_line.h"
#include "fuzz_check.h"
#include "protocol/reply.h"

using namespace morvane::cli;
using namespace morvane::cli::fakes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool value = data[0] & 1;
    const bool serial = data[0] & 2;
    const bool lateValues = data[0] & 4;
    const std::uint8_t code = data[1];
    FakeClock clock;
    FakeLine line(clock, serial);
    const auto timeout = std::chrono::milliseconds(300);
    std::vector<std::uint8_t> all;
    std::size_t inTime = 0;  // bytes that came before the time-out
    int at = 0;
    for (std::size_t i = 2; i + 2 <= size;) {
        const std::size_t n = std::min<std::size_t>(data[i], size - i - 2);
        at += data[i + 1];
        line.Arrive(at, std::vector<std::uint8_t>(data + i + 2, data + i + 2 + n));
        all.insert(all.end(), data + i + 2, data + i + 2 + n);
        if (at <= timeout.count()) inTime = all.size();
        i += 2 + n;
    }
    const Expected expected{value ? ReplyForm::Value : ReplyForm::Status,
                            code,
                            [&](std::uint8_t) { return lateValues ? ReplyForm::Value : ReplyForm::Status; },
                            {}};
    const Reply reply = ReadReply(line, clock, expected, 9600, timeout);
    // A reply complete just before the time-out still gets its settle time.
    FUZZ_CHECK(clock.now - TimePoint{} <= timeout + SettleTime(9600));
    // What was dropped came first, in order; the rest is read as before.
    std::size_t skipped = 0;
    for (const Bytes& d : reply.dropped) {
        FUZZ_CHECK(d.size() >= 3 && skipped + d.size() <= all.size());
        FUZZ_CHECK(std::equal(d.begin(), d.end(), all.begin() + static_cast<std::ptrdiff_t>(skipped)));
        skipped += d.size();
    }
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(skipped));
    inTime = inTime > skipped ? inTime - skipped : 0;
    line.consumed -= std::min(line.consumed, skipped);
    FUZZ_CHECK(reply.bytes.size() <= all.size());
    FUZZ_CHECK(std::equal(reply.bytes.begin(), reply.bytes.end(), all.begin()));

    // Where the reply's length byte stands, and what a complete reply is.
    const bool prefixed = value && serial && !all.empty() && all[0] == morvane::kSerialReplyPrefix;
    const std::size_t lengthAt = prefixed ? 4 : 3;
    const std::size_t headerAt = prefixed ? 1 : 0;
    if (reply.result == Result::Ok || reply.result == Result::Refused)
        FUZZ_CHECK(!(all[headerAt] == 0x1D && all[headerAt + 1] == 0x46 && all[headerAt + 2] != code));
    if (!value) {
        FUZZ_CHECK(line.consumed <= 4 + 16);
        if (reply.result == Result::Ok || reply.result == Result::Refused) {
            FUZZ_CHECK(reply.bytes.size() == 4);
            FUZZ_CHECK((reply.result == Result::Refused) == (all[3] == morvane::kStatusFailure));
        }
        return 0;
    }
    const std::size_t complete = all.size() > lengthAt ? lengthAt + 1 + all[lengthAt] : 0;
    if (complete != 0) FUZZ_CHECK(line.consumed <= complete);
    if (reply.result == Result::Ok) {
        FUZZ_CHECK(complete != 0 && all.size() >= complete && reply.bytes.size() == complete);
        const auto text = all.begin() + static_cast<std::ptrdiff_t>(lengthAt + 1);
        const auto end = std::find(text, all.begin() + static_cast<std::ptrdiff_t>(complete), std::uint8_t{0});
        FUZZ_CHECK(reply.value == std::string(text, end));
    } else {
        FUZZ_CHECK(complete == 0 || inTime < complete || reply.result == Result::Error);
    }
    return 0;
}
