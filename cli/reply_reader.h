// Reads one reply only as long as the reply needs: a status reply ends at
// 4 bytes, a value reply at 4 + L (5 + L in the 0x11 form of serial lines).
// Replies are judged as the dialog judges them: on a serial line a status
// reply must be exactly 4 bytes, so after the 4th byte the line has to stay
// quiet for a few character times before the reply is trusted; on other
// lines, as through the port library, it is the first 4 bytes.
//
// A reply belongs to its frame: one that begins 1D 46 (after the 0x11 prefix
// of a serial value reply) and names another setting code is a late answer
// to an earlier frame. It is dropped whole, and the wait goes on until the
// deadline. A reply that does not begin 1D 46 is judged as the dialog judges
// it: bytes 0 to 2 are not examined, since printers are not known to echo
// them.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/line.h"

namespace morvane::cli {

enum class ReplyForm { Status, Value };
// NotSent: the frame never left, because the job stopped before it.
enum class Result { Ok, Refused, NoAnswer, Error, NotSent };
const char* ResultName(Result result);  // "ok", "refused", "no-answer", "error", "not-sent"

// The command's clock; tests substitute one that jumps.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint Now() = 0;
};
Clock& SystemClock();

using Bytes = std::vector<std::uint8_t>;

// The reply a frame waits for.
struct Expected {
    ReplyForm form = ReplyForm::Status;
    std::uint8_t code = 0;  // the frame's setting code (byte 2)
    // The form of a late answer to an earlier frame with this code, so that
    // it is dropped whole; empty, or for codes not sent: a status reply.
    std::function<ReplyForm(std::uint8_t code)> formOfCode;
    // Told of each such answer as it is dropped (for --trace).
    std::function<void(const Bytes& answer)> onDropped;
};

struct Reply {
    Result result = Result::NoAnswer;
    Bytes bytes;                 // what arrived of this frame's reply
    std::vector<Bytes> dropped;  // answers to other frames, in order
    std::string value;           // a value reply's text, code-page bytes
    std::string detail;          // why it is not ok
    bool written = false;        // the frame went out: the printer may have taken it
};

// How long the line must stay quiet after a complete status reply.
std::chrono::milliseconds SettleTime(int baud);

Reply ReadReply(Line& line, Clock& clock, const Expected& expected, int baud, std::chrono::milliseconds timeout);

}  // namespace morvane::cli
