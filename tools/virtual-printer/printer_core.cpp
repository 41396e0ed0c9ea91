#include "printer_core.h"

#include <algorithm>
#include <optional>

namespace vprinter {

namespace {

constexpr std::size_t kLoggedBytes = 64;  // of a frame or answer, in a log line

void InSegments(ShapedReply* shaped, Offset byteTime) {
    Offset linkFree{0};
    for (Piece& piece : shaped->pieces) {
        linkFree = std::max(linkFree, piece.at) + byteTime * static_cast<Offset::rep>(piece.bytes.size());
        piece.at = linkFree;
    }
}

}  // namespace

void PrinterCore::TakeFrame(const Bytes& frame, Clock::time_point firstByte, Wire wire, Offset byteTime,
                            const std::function<void(const std::string&)>& log) {
    frames.push_back(frame);
    if (frames.size() > kMaxRecorded) frames.pop_front();
    ++frameCount;
    log("rx " + HexString(frame, kLoggedBytes));
    Clock::time_point base = Clock::now();
    if (wire != Wire::AtOnce) {
        // The frame is in once its last byte could have crossed the wire,
        // after the frame before it.
        const Clock::time_point in =
            std::max(firstByte, inboundFree) + byteTime * static_cast<Offset::rep>(frame.size());
        inboundFree = in;
        base = std::max(base, in);
    }

    ShapedReply shaped;
    Answer answer;
    std::uint64_t ownSeq = 0;
    std::size_t ownPiece = 0;
    std::size_t firstOwn = SIZE_MAX;
    if (chaos) {
        ChaosEntry entry;
        entry.rxUs = SteadyMicros(base);
        ChaosPlan plan = chaos->Decide(frame, &settings, &entry);
        log("chaos " + entry.fate + (entry.applied ? ", stored" : ", not stored"));
        const bool owns = plan.lastOwnPiece < plan.shaped.pieces.size();
        answer.bytes = entry.answer;  // for the speed a baud setting takes
        ownSeq = book.Add(std::move(entry));
        ownPiece = owns ? plan.lastOwnPiece : SIZE_MAX;
        firstOwn = owns ? plan.firstOwnPiece : SIZE_MAX;
        shaped = std::move(plan.shaped);
    } else {
        Behaviour b = runBehaviour;
        if (!queued.empty()) {
            b = queued.front();
            queued.pop_front();
        }
        if (b.fault != Fault::None) log(std::string("fault ") + FaultName(b.fault));
        answer = AnswerFrame(frame, &settings);
        if (b.fault == Fault::Copy) {
            // A printer that acknowledges a setting by sending its frame back.
            if (!answer.isValue) answer.bytes = frame;
            b.fault = Fault::None;
        }
        shaped = ShapeReply(answer, b);
    }
    // Chaos answers at the printer's own times: its account is of them.
    if (wire == Wire::ByteByByte && !chaos) PaceOnWire(&shaped, byteTime);
    if (wire == Wire::InSegments && !chaos) InSegments(&shaped, byteTime);
    if (shaped.answered) {
        replies.push_back(shaped.reply);
        if (replies.size() > kMaxRecorded) replies.pop_front();
    }
    const bool accepted = answer.bytes.size() == 4 && answer.bytes[3] == 0x00;
    std::optional<int> newBaud;
    if (frame[2] == kCodeBaudRate && accepted) newBaud = BaudForSetting(frame[3]);
    // A printer's answer is one message on its line: nothing else it sends
    // comes between its pieces.
    ScheduleAnswer(&events, base, std::move(shaped), newBaud, ownSeq, ownPiece, firstOwn, ownSeq);
}

bool PrinterCore::MayWrite(const Event& event) {
    if (inMessage != 0 && event.message != inMessage) return false;
    if (event.message != 0) inMessage = event.endsMessage ? 0 : event.message;
    return true;
}

void PrinterCore::Wrote(const Event& event) {
    if (event.answerOf != 0) book.Written(event.answerOf, SteadyMicros(Clock::now()));
}

}  // namespace vprinter
