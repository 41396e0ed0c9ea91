// The virtual printer's reading of a line: any bytes cut into frames, each
// frame answered and shaped. Input: a selector byte, four behaviour bytes,
// then the line's bytes. Checked against the frame rules written out here
// once more, and against the two reply forms.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "printer_model.h"
#include "reply_shaper.h"

using namespace vprinter;

namespace {

// The frame rules, read from the code byte and the byte after it.
std::size_t RuleLength(const Bytes& frame) {
    switch (frame[2]) {
        case 0x72:
        case 0x77: return 4 + std::size_t{frame[3]};
        case 0x74:
        case 0x55:
        case 0xAA: return 3;
        case 0x82: return 8;
        default: return 4;
    }
}

bool WellFormed(const Bytes& frame) {
    if (frame.size() < 3) return false;
    if (frame.size() == 3) return frame[2] == 0x74 || frame[2] == 0x55 || frame[2] == 0xAA;
    return frame.size() == RuleLength(frame);
}

bool IsRead(const Bytes& frame) {
    return frame[2] == 0x74 || ((frame[2] == 0x72 || frame[2] == 0x77) && frame[3] == 0);
}

void CheckAnswer(const Bytes& frame, const Answer& answer, bool wellFormed) {
    const Bytes& reply = answer.bytes;
    if (frame.size() < 3) {
        FUZZ_CHECK(reply.empty());
        return;
    }
    FUZZ_CHECK(reply.size() >= 4 && reply[0] == 0x1D && reply[1] == 0x46 && reply[2] == frame[2]);
    if (wellFormed && IsRead(frame)) {
        FUZZ_CHECK(answer.isValue && reply.size() == 4 + std::size_t{reply[3]});
        FUZZ_CHECK(answer.text.compare(0, reply[3], reinterpret_cast<const char*>(reply.data() + 4), reply[3]) == 0);
    } else {
        FUZZ_CHECK(!answer.isValue && reply.size() == 4 && (reply[3] == 0x00 || reply[3] == 0xFF));
        if (!wellFormed) FUZZ_CHECK(reply[3] == 0xFF);
    }
}

void CheckSettings(const Settings& s) {
    FUZZ_CHECK(s.name.size() <= kMaxValueText && s.password.size() <= kMaxValueText);
    FUZZ_CHECK(s.darkness >= 1 && s.darkness <= 5 && s.baudRate >= 1 && s.baudRate <= 7);
    FUZZ_CHECK(s.position >= -255 && s.position <= 255);
    FUZZ_CHECK(s.chineseCode == 0x55 || s.chineseCode == 0xAA);
}

Behaviour MakeBehaviour(const std::uint8_t* b) {
    Behaviour behaviour;
    behaviour.fault = static_cast<Fault>(b[0] % 11);
    behaviour.delayMs = b[1];
    behaviour.pieceSize = b[2];
    behaviour.cutTo = b[2];
    behaviour.extraBytes = b[2];
    behaviour.valueLength = b[3] == 0xFF ? -1 : b[3];
    behaviour.padValue = (b[0] & 0x80) != 0;
    return behaviour;
}

void CheckShaped(const Answer& answer, const Behaviour& behaviour, bool pace) {
    ShapedReply shaped = ShapeReply(answer, behaviour);
    const Offset byteTime = ByteTime(9600);
    if (pace) PaceOnWire(&shaped, byteTime);
    Bytes joined;
    Offset last{0};
    for (const Piece& piece : shaped.pieces) {
        FUZZ_CHECK(!piece.bytes.empty() && piece.at >= last);
        if (pace) FUZZ_CHECK(piece.bytes.size() == 1 && piece.at >= last + byteTime);
        last = piece.at;
        joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
    }
    FUZZ_CHECK(joined == shaped.reply);
    FUZZ_CHECK(!shaped.hangup || !shaped.answered);
    if (behaviour.fault == Fault::None) FUZZ_CHECK(shaped.reply == answer.bytes);
    if (behaviour.fault == Fault::Truncated) FUZZ_CHECK(shaped.reply.size() <= behaviour.cutTo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::uint8_t selector = data[0];
    const Behaviour behaviour = MakeBehaviour(data + 1);
    const Bytes line(data + 5, data + size);
    Settings settings;

    if (selector & 1) {
        // One frame as it stands, whatever its length.
        const Answer answer = AnswerFrame(line, &settings);
        CheckAnswer(line, answer, WellFormed(line));
        CheckSettings(settings);
        CheckShaped(answer, behaviour, (selector & 2) != 0);
        return 0;
    }

    // The bytes as they come off the line.
    FrameReader reader;
    Bytes rebuilt, frame, skipped;
    for (std::uint8_t byte : line) {
        skipped.clear();
        const bool complete = reader.Push(byte, &frame, &skipped);
        rebuilt.insert(rebuilt.end(), skipped.begin(), skipped.end());
        FUZZ_CHECK(reader.Partial().size() < 4 + 255);
        FUZZ_CHECK(reader.Partial().empty() || reader.Partial()[0] == 0x1D);
        if (!complete) continue;
        FUZZ_CHECK(frame.size() >= 3 && frame[0] == 0x1D && frame[1] == 0x46);
        FUZZ_CHECK(frame.size() == RuleLength(frame));
        FUZZ_CHECK(FrameLength(frame.data(), frame.size()) == frame.size());
        rebuilt.insert(rebuilt.end(), frame.begin(), frame.end());
        const Answer answer = AnswerFrame(frame, &settings);
        CheckAnswer(frame, answer, true);
        CheckSettings(settings);
        CheckShaped(answer, behaviour, (selector & 2) != 0);
    }
    // Nothing lost and nothing made up: skipped, framed and waiting bytes
    // are the line's bytes in order.
    rebuilt.insert(rebuilt.end(), reader.Partial().begin(), reader.Partial().end());
    FUZZ_CHECK(rebuilt == line);
    return 0;
}
