// The printer's schedule without a line or a worker: what falls due when,
// what a full queue gives up, and the events one answer becomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "event_queue.h"

namespace {

using vprinter::Event;
using vprinter::EventQueue;
using Clock = EventQueue::Clock;
using std::chrono::milliseconds;

Event Write(std::uint8_t byte) {
    Event e;
    e.bytes = {byte};
    return e;
}

Event Of(Event::Kind kind) {
    Event e;
    e.kind = kind;
    return e;
}

// What is due at `now`, in order: "w<byte>" for a write, "hangup", "speed <baud>".
std::vector<std::string> TakeAll(EventQueue& queue, Clock::time_point now) {
    std::vector<std::string> out;
    while (auto e = queue.TakeDue(now)) {
        if (e->kind == Event::kWrite) out.push_back("w" + std::to_string(e->bytes.empty() ? -1 : e->bytes[0]));
        if (e->kind == Event::kHangup) out.push_back("hangup");
        if (e->kind == Event::kSetSpeed) out.push_back("speed " + std::to_string(e->baud));
    }
    return out;
}

using Names = std::vector<std::string>;

TEST(EventQueue, TimeOrderThenTheOrderGiven) {
    EventQueue queue(10);
    const auto t0 = Clock::now();
    queue.Schedule(t0 + milliseconds(20), Write(3));
    queue.Schedule(t0 + milliseconds(10), Write(1));
    queue.Schedule(t0 + milliseconds(10), Write(2));
    EXPECT_EQ(queue.NextDue(), t0 + milliseconds(10));
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(9)), Names{});
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(10)), (Names{"w1", "w2"}));
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(20)), Names{"w3"});
    EXPECT_EQ(queue.NextDue(), Clock::time_point::max());
}

TEST(EventQueue, AFullQueueGivesUpItsOldestWritesOnly) {
    EventQueue queue(2);
    const auto t0 = Clock::now();
    queue.Schedule(t0 + milliseconds(1), Of(Event::kHangup));
    queue.Schedule(t0 + milliseconds(2), Write(1));
    queue.Schedule(t0 + milliseconds(3), Write(2));
    queue.Schedule(t0 + milliseconds(4), Write(3));
    EXPECT_EQ(queue.TakeDropped(), 2u);
    EXPECT_EQ(queue.TakeDropped(), 0u) << "counted once";
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(4)), (Names{"hangup", "w3"}));
}

TEST(EventQueue, AHangupDropsTheWritesAndKeepsTheRest) {
    EventQueue queue(10);
    const auto t0 = Clock::now();
    queue.Schedule(t0, Write(1));
    queue.Schedule(t0, Of(Event::kSetSpeed));
    queue.Schedule(t0, Write(2));
    queue.DropWrites();
    EXPECT_EQ(TakeAll(queue, t0), Names{"speed 0"});
}

TEST(EventQueue, AnAnswerIsItsPiecesThenTheNewSpeed) {
    EventQueue queue(10);
    const auto t0 = Clock::now();
    vprinter::ShapedReply shaped;
    shaped.pieces = {{{1}, milliseconds(0)}, {{2}, milliseconds(30)}};
    vprinter::ScheduleAnswer(&queue, t0, shaped, 115200);
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(29)), Names{"w1"});
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(30)), (Names{"w2", "speed 115200"}));

    shaped.hangup = true;
    shaped.hangupAt = milliseconds(5);
    shaped.pieces.clear();
    vprinter::ScheduleAnswer(&queue, t0, shaped, 115200);
    EXPECT_EQ(TakeAll(queue, t0 + milliseconds(5)), Names{"hangup"}) << "a hang-up keeps the old speed";
}

}  // namespace
