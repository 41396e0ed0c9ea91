// What a printer is, line aside: what it stores, records and has scheduled,
// and what it does with a complete frame. The pseudo-terminal printer and
// each network printer hold one, so both answer alike, faults and chaos
// included.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "chaos.h"
#include "event_queue.h"
#include "printer_model.h"
#include "reply_shaper.h"

namespace vprinter {

// Frames and replies kept for tests; a long run keeps the latest.
constexpr std::size_t kMaxRecorded = 4096;
// Late or piecemeal answers to a flood of frames: at most this many wait.
constexpr std::size_t kMaxScheduled = 4096;

struct PrinterCore {
    using Clock = std::chrono::steady_clock;
    // How answers cross to the other end.
    enum class Wire {
        AtOnce,      // as they fall due
        ByteByByte,  // a UART: byte k leaves k byte times after the first
        InSegments,  // a network module's serial link: each piece once it has crossed
    };

    Settings settings;
    Behaviour runBehaviour;
    std::deque<Behaviour> queued;
    std::deque<Bytes> frames;
    std::deque<Bytes> replies;
    std::size_t frameCount = 0;
    Clock::time_point inboundFree;  // the last frame's end on the wire
    EventQueue events{kMaxScheduled};
    std::unique_ptr<Chaos> chaos;  // set: fates drawn from its seed, not faults
    ChaosBook book;

    // A complete frame whose first byte came at firstByte: recorded, its
    // behaviour (or its fate) drawn and applied, and what goes out put on
    // the schedule, counted from the moment the frame was in. Byte times at
    // byteTime on the wire (ignored with Wire::AtOnce).
    void TakeFrame(const Bytes& frame, Clock::time_point firstByte, Wire wire, Offset byteTime,
                   const std::function<void(const std::string&)>& log);
    // A write that falls due: false while another message is going out in
    // pieces (the caller puts it off a little).
    bool MayWrite(const Event& event);
    // It went out: the account notes a frame's own answer.
    void Wrote(const Event& event);
    std::uint64_t inMessage = 0;  // the message whose pieces are going out
};

}  // namespace vprinter
