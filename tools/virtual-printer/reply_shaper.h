// How a misbehaving printer puts its answer on the line: a behaviour turns
// one answer into timed pieces. No clock and no line here; the worker
// writes each piece at its offset from the moment the frame was complete.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "printer_model.h"

namespace vprinter {

enum class Fault {
    None,         // answer normally
    Silent,       // no answer at all
    Late,         // the whole answer after delayMs
    Pieces,       // the answer in pieces of pieceSize bytes, delayMs apart
    WrongLength,  // extraBytes zero bytes after the answer (status: 5 bytes)
    Truncated,    // only the first cutTo bytes of the answer
    AnswerFF,     // byte 3 of the answer is 0xFF
    Prefix11,     // a 0x11 byte before the answer
    Stray,        // the stray bytes before the answer
    ValueLength,  // value replies carry valueLength as length byte
    Hangup,       // no answer; the line hangs up delayMs after the frame
    Copy,         // set frames answered with a copy of themselves (reads as usual)
};

const char* FaultName(Fault fault);  // "none", "silent", "late", ...
bool ParseFault(const std::string& name, Fault* fault);

struct Behaviour {
    Fault fault = Fault::None;
    int delayMs = 0;             // Late, Pieces (pause between pieces), Hangup
    std::size_t pieceSize = 1;   // Pieces
    std::size_t cutTo = 3;       // Truncated: bytes kept
    std::size_t extraBytes = 1;  // WrongLength: zero bytes added
    int valueLength = -1;        // ValueLength: 0..255; -1 leaves it as is
    // ValueLength: false sends the stored text as it is whatever the length
    // byte says; true sends exactly valueLength text bytes, the stored text
    // cut or padded with padByte.
    bool padValue = false;
    std::uint8_t padByte = 'A';
    std::vector<std::uint8_t> stray = {0x00, 0x55, 0xAA};  // Stray
    // Hangup: come back on a NEW pseudo-terminal this long after hanging up
    // (links re-pointed); -1 stays down until Reopen().
    int reopenAfterMs = -1;

    static Behaviour Normal() { return {}; }
    static Behaviour Silent();
    static Behaviour Late(int ms);
    static Behaviour Pieces(std::size_t pieceSize, int pauseMs);
    static Behaviour WrongLength(std::size_t extraBytes = 1);
    static Behaviour Truncated(std::size_t cutTo = 3);
    static Behaviour AnswerFF();
    static Behaviour Prefix11();
    static Behaviour Stray(std::vector<std::uint8_t> bytes = {0x00, 0x55, 0xAA});
    static Behaviour ValueLength(int length, bool padValue = false);
    static Behaviour Hangup(int afterMs = 0, int reopenAfterMs = -1);
    static Behaviour Copy();
};

using Offset = std::chrono::microseconds;

struct Piece {
    Bytes bytes;
    Offset at{0};  // after the frame was complete
};

struct ShapedReply {
    bool answered = false;      // an answer goes out (perhaps cut to nothing)
    Bytes reply;                // everything put on the line, in order
    std::vector<Piece> pieces;  // the same bytes, in time order
    bool hangup = false;        // hang the line up at hangupAt instead
    Offset hangupAt{0};
    int reopenAfterMs = -1;
};

// What goes on the line for `answer` under `behaviour`. An empty answer
// (nothing to say) gives no pieces.
ShapedReply ShapeReply(const Answer& answer, const Behaviour& behaviour);

// Time of one byte on the wire: 10 bits (start, 8 data, stop) at `bps`.
Offset ByteTime(long bps);
// The pieces at the wire's pace: one piece a byte, each leaving a byte time
// after the one before it (the first a byte time after its piece's offset),
// never before the offset the behaviour gave its piece.
void PaceOnWire(ShapedReply* shaped, Offset byteTime);

}  // namespace vprinter
