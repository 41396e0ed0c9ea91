#include "event_queue.h"

#include <algorithm>
#include <utility>

namespace vprinter {

void EventQueue::Schedule(Clock::time_point when, Event event) {
    events_.emplace(when, std::move(event));  // after those of the same time
    while (events_.size() > limit_) {
        auto oldest =
            std::find_if(events_.begin(), events_.end(), [](const auto& e) { return e.second.kind == Event::kWrite; });
        if (oldest == events_.end()) break;
        events_.erase(oldest);
        ++dropped_;
    }
}

std::optional<Event> EventQueue::TakeDue(Clock::time_point now) {
    if (events_.empty() || events_.begin()->first > now) return std::nullopt;
    Event event = std::move(events_.begin()->second);
    events_.erase(events_.begin());
    return event;
}

EventQueue::Clock::time_point EventQueue::NextDue() const {
    return events_.empty() ? Clock::time_point::max() : events_.begin()->first;
}

void EventQueue::DropWrites() {
    std::erase_if(events_, [](const auto& e) { return e.second.kind == Event::kWrite; });
}

std::size_t EventQueue::TakeDropped() { return std::exchange(dropped_, 0); }

void ScheduleAnswer(EventQueue* queue, EventQueue::Clock::time_point base, ShapedReply shaped,
                    std::optional<int> newBaud, std::uint64_t answerOf, std::size_t ownPiece, std::size_t firstOwn,
                    std::uint64_t message) {
    if (shaped.hangup) {
        Event event;
        event.kind = Event::kHangup;
        event.reopenAfterMs = shaped.reopenAfterMs;
        queue->Schedule(base + shaped.hangupAt, std::move(event));
    }
    Offset lastPiece{0};
    for (std::size_t i = 0; i < shaped.pieces.size(); ++i) {
        Piece& piece = shaped.pieces[i];
        Event event;
        event.bytes = std::move(piece.bytes);
        if (i == ownPiece) event.answerOf = answerOf;
        if (message != 0 && firstOwn <= i && i <= ownPiece) {
            event.message = message;
            event.endsMessage = i == ownPiece;
        }
        lastPiece = std::max(lastPiece, piece.at);
        queue->Schedule(base + piece.at, std::move(event));
    }
    if (newBaud && !shaped.hangup) {
        Event event;
        event.kind = Event::kSetSpeed;
        event.baud = *newBaud;
        queue->Schedule(base + lastPiece, std::move(event));
    }
}

}  // namespace vprinter
