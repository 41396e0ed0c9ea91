// What the printer has to do later, in time order: answers (or pieces of
// them) to write, hang-ups, reopens and speed changes. No line and no
// thread here: the worker takes what is due and does it on its own line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "printer_model.h"
#include "reply_shaper.h"

namespace vprinter {

struct Event {
    enum Kind { kWrite, kHangup, kReopen, kSetSpeed } kind = kWrite;
    Bytes bytes;                 // kWrite
    int reopenAfterMs = -1;      // kHangup
    int baud = 0;                // kSetSpeed
    std::uint64_t answerOf = 0;  // kWrite: completes the own answer of this chaos entry
    // kWrite: one of the pieces of a message other writes must not split
    // (0: a write of its own); the last one ends it.
    std::uint64_t message = 0;
    bool endsMessage = true;
};

class EventQueue {
public:
    using Clock = std::chrono::steady_clock;

    explicit EventQueue(std::size_t limit) : limit_(limit) {}

    // Events at equal times keep their order. Beyond the limit the oldest
    // write goes (see TakeDropped()); hang-ups, reopens and speed changes
    // are always kept, so the line's state never goes astray.
    void Schedule(Clock::time_point when, Event event);
    // The earliest event due at `now`, taken off the queue.
    std::optional<Event> TakeDue(Clock::time_point now);
    Clock::time_point NextDue() const;  // Clock::time_point::max() when empty
    // A hang-up: nothing written before it reaches the next line.
    void DropWrites();
    void Clear() { events_.clear(); }
    bool Empty() const { return events_.empty(); }
    std::size_t Size() const { return events_.size(); }
    // Writes dropped for the limit since the last call.
    std::size_t TakeDropped();

private:
    std::size_t limit_;
    std::multimap<Clock::time_point, Event> events_;
    std::size_t dropped_ = 0;
};

// The events of one answer, counted from `base` (the moment the frame was
// complete): its pieces, or the hang-up its fault asks for, and, when the
// printer took a new speed, the change once the answer's last piece is out
// (the answer leaves at the old speed).
// `answerOf`: the chaos entry whose own answer the piece at `ownPiece`
// completes; the pieces from `firstOwn` to it are one message (`message`).
void ScheduleAnswer(EventQueue* queue, EventQueue::Clock::time_point base, ShapedReply shaped,
                    std::optional<int> newBaud, std::uint64_t answerOf = 0, std::size_t ownPiece = SIZE_MAX,
                    std::size_t firstOwn = SIZE_MAX, std::uint64_t message = 0);

}  // namespace vprinter
