#include "reply_shaper.h"

#include <algorithm>

namespace vprinter {

namespace {

constexpr std::uint8_t kStatusFail = 0xFF;
constexpr std::uint8_t kXon = 0x11;  // the byte some printers send first

}  // namespace

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::Silent: return "silent";
        case Fault::Late: return "late";
        case Fault::Pieces: return "pieces";
        case Fault::WrongLength: return "wrong-length";
        case Fault::Truncated: return "truncated";
        case Fault::AnswerFF: return "answer-ff";
        case Fault::Prefix11: return "prefix11";
        case Fault::Stray: return "stray";
        case Fault::ValueLength: return "value-length";
        case Fault::Hangup: return "hangup";
        case Fault::Copy: return "copy";
    }
    return "?";
}

bool ParseFault(const std::string& name, Fault* fault) {
    static constexpr Fault kAll[] = {
        Fault::None,     Fault::Silent,   Fault::Late,  Fault::Pieces,      Fault::WrongLength, Fault::Truncated,
        Fault::AnswerFF, Fault::Prefix11, Fault::Stray, Fault::ValueLength, Fault::Hangup,      Fault::Copy,
    };
    for (Fault candidate : kAll) {
        if (name == FaultName(candidate)) {
            *fault = candidate;
            return true;
        }
    }
    return false;
}

Behaviour Behaviour::Silent() {
    Behaviour b;
    b.fault = Fault::Silent;
    return b;
}

Behaviour Behaviour::Late(int ms) {
    Behaviour b;
    b.fault = Fault::Late;
    b.delayMs = ms;
    return b;
}

Behaviour Behaviour::Pieces(std::size_t pieceSize, int pauseMs) {
    Behaviour b;
    b.fault = Fault::Pieces;
    b.pieceSize = pieceSize;
    b.delayMs = pauseMs;
    return b;
}

Behaviour Behaviour::WrongLength(std::size_t extraBytes) {
    Behaviour b;
    b.fault = Fault::WrongLength;
    b.extraBytes = extraBytes;
    return b;
}

Behaviour Behaviour::Truncated(std::size_t cutTo) {
    Behaviour b;
    b.fault = Fault::Truncated;
    b.cutTo = cutTo;
    return b;
}

Behaviour Behaviour::AnswerFF() {
    Behaviour b;
    b.fault = Fault::AnswerFF;
    return b;
}

Behaviour Behaviour::Prefix11() {
    Behaviour b;
    b.fault = Fault::Prefix11;
    return b;
}

Behaviour Behaviour::Stray(std::vector<std::uint8_t> bytes) {
    Behaviour b;
    b.fault = Fault::Stray;
    b.stray = std::move(bytes);
    return b;
}

Behaviour Behaviour::ValueLength(int length, bool padValue) {
    Behaviour b;
    b.fault = Fault::ValueLength;
    b.valueLength = length;
    b.padValue = padValue;
    return b;
}

Behaviour Behaviour::Copy() {
    Behaviour b;
    b.fault = Fault::Copy;
    return b;
}

Behaviour Behaviour::Hangup(int afterMs, int reopenAfterMs) {
    Behaviour b;
    b.fault = Fault::Hangup;
    b.delayMs = afterMs;
    b.reopenAfterMs = reopenAfterMs;
    return b;
}

ShapedReply ShapeReply(const Answer& answer, const Behaviour& b) {
    ShapedReply shaped;
    const Offset delay = std::chrono::milliseconds(std::max(b.delayMs, 0));
    if (b.fault == Fault::Hangup) {
        shaped.hangup = true;
        shaped.hangupAt = delay;
        shaped.reopenAfterMs = b.reopenAfterMs;
        return shaped;
    }
    if (b.fault == Fault::Silent || answer.bytes.empty()) return shaped;

    shaped.answered = true;
    Bytes& reply = shaped.reply;
    reply = answer.bytes;
    switch (b.fault) {
        case Fault::WrongLength: reply.insert(reply.end(), b.extraBytes, 0x00); break;
        case Fault::Truncated: reply.resize(std::min(b.cutTo, reply.size())); break;
        case Fault::AnswerFF:
            if (reply.size() > 3) reply[3] = kStatusFail;
            break;
        case Fault::Prefix11: reply.insert(reply.begin(), kXon); break;
        case Fault::Stray: reply.insert(reply.begin(), b.stray.begin(), b.stray.end()); break;
        case Fault::ValueLength:
            if (answer.isValue && b.valueLength >= 0) {
                const auto length = static_cast<std::uint8_t>(std::min(b.valueLength, 255));
                std::string text = CutText(answer.text);
                if (b.padValue) text.resize(length, static_cast<char>(b.padByte));
                reply.resize(3);  // header and code stay
                reply.push_back(length);
                reply.insert(reply.end(), text.begin(), text.end());
            }
            break;
        default: break;
    }

    if (b.fault == Fault::Pieces) {
        const std::size_t size = std::max<std::size_t>(b.pieceSize, 1);
        int index = 0;
        for (std::size_t at = 0; at < reply.size(); at += size, ++index) {
            Piece piece;
            piece.bytes.assign(reply.begin() + at, reply.begin() + std::min(at + size, reply.size()));
            piece.at = delay * index;
            shaped.pieces.push_back(std::move(piece));
        }
    } else if (!reply.empty()) {
        shaped.pieces.push_back({reply, b.fault == Fault::Late ? delay : Offset{0}});
    }
    return shaped;
}

Offset ByteTime(long bps) {
    constexpr long long kBitsPerByte = 10;
    return bps > 0 ? Offset(kBitsPerByte * 1000000 / bps) : Offset{0};
}

void PaceOnWire(ShapedReply* shaped, Offset byteTime) {
    std::vector<Piece> paced;
    Offset cursor{0};
    for (const Piece& piece : shaped->pieces) {
        cursor = std::max(cursor, piece.at);
        for (std::uint8_t byte : piece.bytes) {
            cursor += byteTime;
            paced.push_back({{byte}, cursor});
        }
    }
    shaped->pieces = std::move(paced);
}

}  // namespace vprinter
