// The command's reply reader against hostile printers. Input: a flags byte
// (bit 0: value reply, bit 1: serial line, bit 2: a line left dirty), the
// frame's code, then pieces of a length byte, a delay byte in ms and the
// bytes. Checked: the wait ends within its bound (a time-out for the frame
// and one for the check, if one was sent); what was dropped and the
// reply are the stream's bytes in order; a reply never names another code;
// after dropped bytes only a reply that names the frame counts; a status is
// exactly 4 bytes and a value all of its length.
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
    const std::uint8_t code = data[1];
    FakeClock clock;
    FakeLine line(clock, serial);
    const auto timeout = std::chrono::milliseconds(300);
    std::vector<std::uint8_t> all;
    int at = 0;
    for (std::size_t i = 2; i + 2 <= size;) {
        const std::size_t n = std::min<std::size_t>(data[i], size - i - 2);
        at += data[i + 1];
        line.Arrive(at, std::vector<std::uint8_t>(data + i + 2, data + i + 2 + n));
        all.insert(all.end(), data + i + 2, data + i + 2 + n);
        i += 2 + n;
    }
    LineState state;
    state.dirty = data[0] & 4;
    Expected expected;
    expected.form = value ? ReplyForm::Value : ReplyForm::Status;
    expected.frame = value ? Bytes{0x1D, 0x46, code, 0x00} : Bytes{0x1D, 0x46, code, 0x04};
    int checks = 0;
    expected.sendCheck = [&](const Bytes&) { return ++checks > 0; };
    const Reply reply = ReadReply(line, clock, expected, state, 9600, timeout);
    // A reply complete just before the time-out still gets its settle time;
    // a check sent has a time-out of its own.
    FUZZ_CHECK(clock.now - TimePoint{} <= (1 + checks) * timeout + 2 * SettleTime(9600));
    FUZZ_CHECK(checks <= 1);
    std::size_t kept = 0;
    for (const Bytes& d : reply.dropped) kept += d.size();
    FUZZ_CHECK(kept <= 2048);
    if (reply.result != Result::Ok && reply.result != Result::Refused) return 0;

    // The reply: the frame's copy (judged once the check told whose it
    // was), or the bytes that follow all that was dropped.
    const Bytes& b = reply.bytes;
    const bool copy = checks == 1 && b == expected.frame;
    if (!copy) {
        FUZZ_CHECK(reply.droppedBytes + b.size() <= all.size());
        FUZZ_CHECK(std::equal(b.begin(), b.end(), all.begin() + static_cast<std::ptrdiff_t>(reply.droppedBytes)));
    }
    const bool prefixed = value && serial && !b.empty() && b[0] == morvane::kSerialReplyPrefix;
    const std::size_t h = prefixed ? 1 : 0;
    const bool named = b.size() >= h + 3 && b[h] == 0x1D && b[h + 1] == 0x46;
    if (named) FUZZ_CHECK(b[h + 2] == code);
    // Without 1D 46 only when it stood alone on a clean line.
    if (reply.droppedBytes > 0 || (data[0] & 4) != 0) FUZZ_CHECK(named);
    if (!value) {
        FUZZ_CHECK(b.size() == 4);
        FUZZ_CHECK((reply.result == Result::Refused) == (b[3] == morvane::kStatusFailure));
        return 0;
    }
    const std::size_t lengthAt = h + 3;
    FUZZ_CHECK(b.size() > lengthAt && b.size() == lengthAt + 1 + b[lengthAt]);
    const auto text = b.begin() + static_cast<std::ptrdiff_t>(lengthAt + 1);
    FUZZ_CHECK(reply.value == std::string(text, std::find(text, b.end(), std::uint8_t{0})));
    return 0;
}
