// Reads one reply only as long as the reply needs: a status reply ends at
// 4 bytes, a value reply at 4 + L (5 + L in the 0x11 form of serial lines).
// Replies are judged as the dialog judges them: a status reply must be
// exactly 4 bytes, so after the 4th byte the line has to stay quiet for a
// few character times before the reply is trusted.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/line.h"

namespace morvane::cli {

enum class ReplyForm { Status, Value };
enum class Result { Ok, Refused, NoAnswer, Error };
const char* ResultName(Result result);  // "ok", "refused", "no-answer", "error"

// The command's clock; tests substitute one that jumps.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint Now() = 0;
};
Clock& SystemClock();

struct Reply {
    Result result = Result::NoAnswer;
    std::vector<std::uint8_t> bytes;  // everything that arrived
    std::string value;                // a value reply's text, code-page bytes
    std::string detail;               // why it is not ok
};

// Bytes that make the reply complete, judging by what has come so far; 0
// while the length byte has not arrived.
std::size_t CompleteLength(ReplyForm form, bool serialLine, const std::uint8_t* bytes, std::size_t count);

// How long the line must stay quiet after a complete status reply.
std::chrono::milliseconds SettleTime(int baud);

Reply ReadReply(Line& line, Clock& clock, ReplyForm form, int baud, std::chrono::milliseconds timeout);

}  // namespace morvane::cli
