// From bytes on the line to answers on the schedule: frames are cut from
// the byte stream, recorded, applied to the settings, shaped by the fault
// in force and queued at the times they leave (events for the worker).
#include "virtual_printer.h"

#include <algorithm>

namespace vprinter {

void VirtualPrinter::Schedule(Clock::time_point when, Event event) {
    core_.events.Schedule(when, std::move(event));
    Wake();
}

void VirtualPrinter::ReportDroppedEvents() {
    const std::size_t dropped = core_.events.TakeDropped();
    if (dropped == 0) return;
    Log("too many answers waiting: dropped the " + std::to_string(dropped) + " oldest");
}

void VirtualPrinter::HandleBytes(const std::uint8_t* data, std::size_t size) {
    lastByte_ = Clock::now();
    // A line that echoes sends every byte straight back, before the printer
    // behind it (if any) reads it.
    if (options_.echo ||
        (core_.chaos && core_.chaos->Line() != ChaosLine::Plain && core_.chaos->Line() != ChaosLine::Copy))
        output_.insert(output_.end(), data, data + size);
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
    core_.TakeFrame(frame, firstByte, options_.pace ? PrinterCore::Wire::ByteByByte : PrinterCore::Wire::AtOnce,
                    ByteTime(lineSpeed), [this](const std::string& line) { Log(line); });
    ReportDroppedEvents();
    Wake();
    cv_.notify_all();
}

}  // namespace vprinter
