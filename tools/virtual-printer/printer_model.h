// The printer itself, without a line: what it stores, how it tells where a
// frame (0x1D 0x46, code, argument) ends in a stream of bytes, and what it
// answers. This is the printer's own reading of the frames, kept apart from
// the program's frame builders so that a test can catch the two drifting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vprinter {

using Bytes = std::vector<std::uint8_t>;

// Longest name or password the printer accepts through a set frame; longer
// texts are answered with 0xFF. The Set* calls take up to 255 bytes.
constexpr std::size_t kMaxStoredText = 32;
// A value reply carries its text length in one byte.
constexpr std::size_t kMaxValueText = 255;

// Everything the printer stores. Values are the argument bytes as received.
struct Settings {
    std::string name = "VirtualPrinter";
    std::string address = "00:1B:35:0A:2C:5E";  // read only on the line
    std::string password = "1234";
    int visibility = 0;       // 0x73, 0..1
    int baudRate = 3;         // 0x78, 1..7 (3 = 9600)
    int beeper = 0;           // 0x79, 0..1
    int sleepTime = 0;        // 0x7A, 0..255
    int chineseCode = 0x55;   // 0x55 simplified, 0xAA traditional
    int darkness = 3;         // 0x7C, 1..5
    int markSensitivity = 4;  // 0x7D, 1..7
    int gapSensitivity = 4;   // 0x7E, 1..7
    int btMode = 0;           // 0x7F, 0..1
    int position = 0;         // 0x82, -255..255
    int language = 1;         // 0x7B, 0..1
    int paperSensor = 0;      // 0x86, 0..5
    int commandSet = 2;       // 0x87, 1..2
    int paperWidth = 2;       // 0x88, 1..5

    // Codes of the settings stored from a frame since Start() (or since the
    // last SetSettings()). Chinese mode is marked under the code that set it
    // (0x55 or 0xAA).
    std::set<std::uint8_t> setCodes;
    bool WasSet(std::uint8_t code) const { return setCodes.count(code) != 0; }
};

// Length of the frame starting with 1D 46 in `head` (at least 3 bytes), or 0
// when byte 3 is needed and not there yet.
std::size_t FrameLength(const std::uint8_t* head, std::size_t size);

// Cuts a byte stream into frames: bytes before 0x1D 0x46 are skipped, and a
// frame is complete once FrameLength() bytes are in. Never holds more than
// the longest frame (4 + 255 bytes).
class FrameReader {
public:
    // Takes one byte. True when it completes a frame, which is then moved
    // into *frame; a byte that cannot start or continue a header is added
    // to *skipped (with any that it pushes out).
    bool Push(std::uint8_t byte, Bytes* frame, Bytes* skipped);
    const Bytes& Partial() const { return partial_; }
    // Forgets the frame begun, e.g. when silence has cut it off.
    void DropPartial() { partial_.clear(); }

private:
    Bytes partial_;
};

// The printer's answer to one complete frame, applied to the settings.
struct Answer {
    Bytes bytes;
    bool isValue = false;  // a value reply: 1D 46 code L text
    std::string text;      // its text (before any cut to 255)
};
Answer AnswerFrame(const Bytes& frame, Settings* settings);

// The line speed a `baud` setting value (1..7) stands for; 0 for any other.
int BaudForSetting(int value);
constexpr std::uint8_t kCodeBaudRate = 0x78;

std::string CutText(const std::string& text);  // to kMaxValueText bytes
std::string HexString(const Bytes& bytes);     // "1D 46 7C 04"
// For a log line: the first maxBytes in hex, then "... (N bytes)".
std::string HexString(const Bytes& bytes, std::size_t maxBytes);

}  // namespace vprinter
