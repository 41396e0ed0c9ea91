// From bytes on the line to answers on the schedule: frames are cut from
// the byte stream, recorded, applied to the settings, shaped by the fault
// in force and queued at the times they leave (events for the worker).
#include "virtual_printer.h"

#include <algorithm>
#include <optional>

namespace vprinter {

void VirtualPrinter::Schedule(Clock::time_point when, Event event) {
    events_.Schedule(when, std::move(event));
    Wake();
}

void VirtualPrinter::ReportDroppedEvents() {
    const std::size_t dropped = events_.TakeDropped();
    if (dropped == 0) return;
    Log("too many answers waiting: dropped the " + std::to_string(dropped) + " oldest");
}

void VirtualPrinter::HandleBytes(const std::uint8_t* data, std::size_t size) {
    lastByte_ = Clock::now();
    Bytes skipped;
    Bytes frame;
    auto flushSkipped = [&] {
        if (skipped.empty()) return;
        discarded_ += skipped.size();
        Log("skip " + HexString(skipped, kMaxLoggedBytes));
        skipped.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (reader_.Partial().empty()) frameStart_ = lastByte_;
        if (reader_.Push(data[i], &frame, &skipped)) {
            flushSkipped();
            HandleFrame(frame, frameStart_);
        }
    }
    flushSkipped();
    ReportDroppedEvents();
}

void VirtualPrinter::HandleFrame(const Bytes& frame, Clock::time_point firstByte) {
    const long lineSpeed = line_.Speed();
    if (options_.strictSpeed && lineSpeed != ownBaud_) {
        // A UART at another speed reads noise, not this frame.
        discarded_ += frame.size();
        Log("ignored at " + std::to_string(lineSpeed) + " baud (printer at " + std::to_string(ownBaud_) +
            "): " + HexString(frame, kMaxLoggedBytes));
        return;
    }
    frames_.push_back(frame);
    if (frames_.size() > kMaxRecorded) frames_.pop_front();
    ++frameCount_;
    Log("rx " + HexString(frame, kMaxLoggedBytes));
    Behaviour b = runBehaviour_;
    if (!queued_.empty()) {
        b = queued_.front();
        queued_.pop_front();
    }
    if (b.fault != Fault::None) Log(std::string("fault ") + FaultName(b.fault));
    const Answer answer = AnswerFrame(frame, &settings_);
    ShapedReply shaped = ShapeReply(answer, b);
    auto base = Clock::now();
    if (options_.pace) {
        // The frame is in once its last byte could have crossed the wire,
        // after the frame before it.
        const Offset byteTime = ByteTime(lineSpeed);
        const Clock::time_point received =
            std::max(firstByte, inboundFree_) + byteTime * static_cast<Offset::rep>(frame.size());
        inboundFree_ = received;
        base = std::max(base, received);
        PaceOnWire(&shaped, byteTime);
    }
    if (shaped.answered) {
        replies_.push_back(shaped.reply);
        if (replies_.size() > kMaxRecorded) replies_.pop_front();
    }
    const bool accepted = answer.bytes.size() == 4 && answer.bytes[3] == 0x00;
    std::optional<int> newBaud;
    if (frame[2] == kCodeBaudRate && accepted) newBaud = BaudForSetting(frame[3]);
    ScheduleAnswer(&events_, base, std::move(shaped), newBaud);
    Wake();
    cv_.notify_all();
}

}  // namespace vprinter
