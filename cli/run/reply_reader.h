// Reads one frame's reply only as long as the reply needs: a status reply
// ends at 4 bytes, a value reply at 4 + L (5 + L in the 0x11 form of serial
// lines). A reply is the printer's answer to this frame and nothing else:
//
//  - An answer that names another setting code is a late answer to another
//    frame, of this command or an earlier one. It is dropped whole, by the
//    form the catalogue gives its code, and the wait goes on. From then on
//    only an answer that names this frame's code counts: what follows a
//    foreign answer is never judged as this frame's status.
//  - A line that sends back what it is sent gives the frame itself as its
//    "reply". When the frame's own bytes come back first, a check frame
//    (the harmless read-address frame) tells a line that echoes from a
//    printer that acknowledges by copying its frame: its echo comes back,
//    or its answer does.
//  - A reply that does not begin 1D 46 is judged as the dialog judges it
//    (bytes 0 to 2 are not examined), but only when it stands alone: first
//    in a clean wait, with nothing dropped before it and no answer owed.
//  - Every wait ends at its deadline however many bytes keep coming, and
//    keeps only a few hundred of the bytes it drops, for --trace.
//
// On a serial line a status reply must be exactly 4 bytes, so after the 4th
// byte the line has to stay quiet for a few character times before the
// reply is trusted; on other lines, as through the port library, a reply
// that names its frame is its first 4 bytes.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/run/line.h"

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

// How long past its time-out a frame's answer is still looked for. A frame
// with the same code is not sent before that answer comes or this passes,
// so that the answer is never taken for the new frame's.
constexpr std::chrono::milliseconds kLateHorizon{3000};

// What the command has learnt of a line, carried from frame to frame of a
// job (and the answers still owed from one command to the next: see
// line_memory.h).
struct LineState {
    enum class Echo { Unknown, Echoes, Quiet };
    Echo echo = Echo::Unknown;
    // The line was shown not to echo in this job (its own answer came
    // first, or a check's did): worth keeping for the next command, which
    // is then spared the check, until quietUntil.
    bool quietShown = false;
    TimePoint quietUntil{};
    // Bytes were dropped, or left over, since the last reply: what follows
    // them may be the tail of something else.
    bool dirty = false;
    // A frame whose answer has not come, and may still come until `until`.
    struct Owed {
        std::uint8_t code = 0;
        ReplyForm form = ReplyForm::Status;
        TimePoint until;
    };
    std::vector<Owed> owed;  // the oldest first
    static constexpr std::size_t kMostOwed = 64;

    bool Owes(std::uint8_t code, TimePoint now) const;
    bool OwesAny(TimePoint now) const;
    void Owe(std::uint8_t code, ReplyForm form, TimePoint until);
    void Settle(std::uint8_t code);  // an answer that names it came: the oldest such frame's
    void Forget(TimePoint now);      // the owed answers past their horizon
};

// Settles the owed answers that a run of bytes names; keeps the last bytes
// of a header cut between two runs.
class AnswerSpotter {
public:
    explicit AnswerSpotter(LineState& state) : state_(state) {}
    void Feed(const std::uint8_t* bytes, std::size_t size);

private:
    LineState& state_;
    std::uint8_t carry_[2] = {};
    std::size_t carried_ = 0;
};

// The frame whose reply is awaited, and the reader's ways back to its caller.
struct Expected {
    ReplyForm form = ReplyForm::Status;
    // When the frame began to leave: its time-out counts from there, so
    // that an answer after it is never taken, however late this reader runs.
    std::optional<TimePoint> sentAt;
    Bytes frame;  // as sent: byte 2 is its code, and its echo is these bytes
    // Sends the check frame; false when the line would not take it.
    std::function<bool(const Bytes& check)> sendCheck;
    // Told of bytes dropped (for --trace), with why; a bounded number of times.
    std::function<void(const Bytes& bytes, const char* why)> onDropped;
};

struct Reply {
    Result result = Result::NoAnswer;
    Bytes bytes;                   // what arrived of this frame's reply
    std::size_t droppedBytes = 0;  // answers to other frames, echoes, junk
    std::vector<Bytes> dropped;    // the first of them, in order, for --trace
    std::string value;             // a value reply's text, code-page bytes
    std::string detail;            // why it is not ok
    bool written = false;          // the frame went out: the printer may have taken it
    bool echoed = false;           // the line sent back what it was sent, and nothing answered
};

// The detail of a frame that only came back as it was sent.
inline constexpr char kEchoDetail[] = "the line sends back what it is sent";

// How long the line must stay quiet after a complete status reply.
std::chrono::milliseconds SettleTime(int baud);

// The check frame for a frame with `code`: the read-address frame, or,
// while an address read still owes its answer, the read-name frame, or the
// read-password frame; none when all of them do.
const Bytes* CheckFor(std::uint8_t code, const LineState& state, TimePoint now);

Reply ReadReply(Line& line, Clock& clock, const Expected& expected, LineState& state, int baud,
                std::chrono::milliseconds timeout);

}  // namespace morvane::cli
