// The virtual printer: a printer at the far end of a pseudo-terminal that
// answers configuration frames (0x1D 0x46, code, argument) like the real
// device, keeps every setting it was sent, and misbehaves on request.
//
// Usage from a test in the same process:
//
//   vprinter::VirtualPrinter printer;          // or VirtualPrinter(&std::cerr)
//   std::string error;
//   ASSERT_TRUE(printer.Start(&error)) << error;
//   printer.AddLink(prefix + "/dosdevices/com1", &error);  // the cable
//   printer.QueueBehaviour(vprinter::Behaviour::Silent()); // next frame only
//   ... drive the tool ...
//   ASSERT_TRUE(printer.WaitForFrames(1, 10000));
//   EXPECT_EQ(printer.GetSettings().darkness, 4);
//
// Every member function is thread-safe. The line is served by one worker
// thread between Start() and Stop(); calls never block on the line itself.
//
// How frames are read:
//   - Bytes before 0x1D 0x46 are skipped (counted in BytesDiscarded()).
//   - The frame's length follows from its code: 0x72 and 0x77 carry a length
//     byte n (n == 0: a 4-byte read, else 4 + n bytes); 0x74, 0x55 and 0xAA
//     are 3 bytes; 0x82 is 8 bytes; the other known codes are 4 bytes.
//   - An unknown code is taken as a 4-byte frame (one argument byte, like
//     most settings) and answered with the status reply 1D 46 code FF: a
//     printer rejects what it does not know but stays in step with the line.
//   - A frame cut off by kSilenceMs of silence is dropped; reading starts
//     again at the next 0x1D 0x46. No buffer grows without bound.
//
// How frames are answered (unless a fault says otherwise):
//   - Set frames: 1D 46 code 00, or 1D 46 code FF when the value is out of
//     range; an out-of-range value is not stored.
//   - Reads (0x72 n=0, 0x74, 0x77 n=0): 1D 46 code L text, L = text length
//     (at most 255; longer stored texts are cut to 255 on the line).
//
// A fault shapes only the reply: the frame is always recorded in Frames()
// and applied to the settings as usual.
//
// The printer keeps a handle of its own on the slave side, so the other
// end closing and reopening the device never hangs the line up; only a
// Hangup (fault or call) does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vprinter {

// Silence that ends a partial frame.
constexpr int kSilenceMs = 500;

// Longest name or password the printer accepts through a set frame; longer
// texts are answered with 0xFF. The Set* calls below take up to 255 bytes.
constexpr std::size_t kMaxStoredText = 32;

// Everything the printer stores. Values are the argument bytes as received.
struct Settings {
    std::string name = "VirtualPrinter";
    std::string address = "00:1B:35:0A:2C:5E";   // read only on the line
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
};

const char* FaultName(Fault fault);                 // "none", "silent", "late", ...
bool ParseFault(const std::string& name, Fault* fault);

struct Behaviour {
    Fault fault = Fault::None;
    int delayMs = 0;              // Late, Pieces (pause between pieces), Hangup
    std::size_t pieceSize = 1;    // Pieces
    std::size_t cutTo = 3;        // Truncated: bytes kept
    std::size_t extraBytes = 1;   // WrongLength: zero bytes added
    int valueLength = -1;         // ValueLength: 0..255; -1 leaves it as is
    // ValueLength: false sends the stored text as it is whatever the length
    // byte says; true sends exactly valueLength text bytes, the stored text
    // cut or padded with padByte.
    bool padValue = false;
    std::uint8_t padByte = 'A';
    std::vector<std::uint8_t> stray = {0x00, 0x55, 0xAA};   // Stray
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
};

using Bytes = std::vector<std::uint8_t>;

// Builds the printer's answer to one complete frame and applies the frame
// to the settings. Empty when the frame needs no answer (never, today).
// Exposed for tests; the printer calls it for every frame.
struct Answer {
    Bytes bytes;
    bool isValue = false;   // a value reply: 1D 46 code L text
    std::string text;       // its text (before any cut to 255)
};
Answer AnswerFrame(const Bytes& frame, Settings* settings);

// Length of the frame starting with 1D 46 in `head` (at least 3 bytes), or 0
// when byte 3 is needed and not there yet.
std::size_t FrameLength(const std::uint8_t* head, std::size_t size);

std::string HexString(const Bytes& bytes);   // "1D 46 7C 04"

class VirtualPrinter {
public:
    // `log`, when given, receives a line per frame, reply and event; it must
    // outlive the printer and is written under the printer's lock only.
    explicit VirtualPrinter(std::ostream* log = nullptr);
    ~VirtualPrinter();                       // Stop()
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // Opens a pseudo-terminal (slave in raw mode) and starts serving it.
    // False with a reason in *error when it cannot; false if already started.
    bool Start(std::string* error);
    // Stops serving, closes the pseudo-terminal and removes the links that
    // still point at it. Safe to call twice.
    void Stop();
    bool IsRunning() const;

    // Path of the current slave side ("/dev/pts/N"); empty before Start().
    // Changes after a hangup and reopen.
    std::string SlavePath() const;
    // False while the line is hung up.
    bool IsOpen() const;

    // Creates or replaces a symbolic link `path` -> slave side, e.g. a Wine
    // prefix's dosdevices/com1. Links are re-pointed on every reopen and
    // removed by Stop(). Before Start() the link is made at Start().
    bool AddLink(const std::string& path, std::string* error);

    Settings GetSettings() const;
    void SetSettings(const Settings& settings);   // replaces all, marks too
    void SetName(const std::string& name);        // up to 255 bytes
    void SetAddress(const std::string& address);
    void SetPassword(const std::string& password);

    // Behaviour for every frame not covered by the queue.
    void SetBehaviour(const Behaviour& behaviour);
    // Behaviour for the next frame only; queued ones are used first-in
    // first-out, one per frame received.
    void QueueBehaviour(const Behaviour& behaviour);
    // Empties the queue and returns the run's behaviour to normal.
    void ClearBehaviours();
    std::size_t QueuedBehaviours() const;

    // Every complete frame received since Start() or ClearFrames(), in order
    // (garbage and dropped partial frames not included). A long run keeps
    // the latest kMaxRecorded.
    static constexpr std::size_t kMaxRecorded = 4096;
    std::vector<Bytes> Frames() const;
    // Every answer as it was put on the line (fault applied, stray bytes and
    // prefix included); silent and hangup frames give none. Same limit.
    std::vector<Bytes> Replies() const;
    // Frames received since Start() or ClearFrames(), beyond the limit too.
    std::size_t FrameCount() const;
    // True once FrameCount() >= n; false after timeoutMs.
    bool WaitForFrames(std::size_t n, int timeoutMs) const;
    // True once no answer is scheduled and all output is written.
    bool WaitForIdle(int timeoutMs) const;
    void ClearFrames();                      // frames and replies

    // Puts these bytes on the line now, as they are (after anything already
    // waiting to be written).
    void SendRaw(const Bytes& bytes);
    // Hangs the line up now: both sides of the pseudo-terminal are closed,
    // anything scheduled is dropped, the other end reads end-of-file. Waits
    // (bounded) until done.
    void Hangup();
    // Comes back on a NEW pseudo-terminal (hanging up the current one first
    // if it is open) and re-points the links. Waits until done.
    bool Reopen(std::string* error);

    std::size_t BytesDiscarded() const;       // garbage and dropped partials
    std::size_t PartialFramesDropped() const; // frames cut off by silence
    std::size_t HangupCount() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Event {
        enum Kind { kWrite, kHangup, kReopen } kind = kWrite;
        Bytes bytes;             // kWrite
        int reopenAfterMs = -1;  // kHangup
    };

    void Worker();
    bool OpenLine(std::string* error);    // with mu_ held
    void CloseLine();                     // with mu_ held
    void DoHangup(const char* why);       // with mu_ held
    void PointLinks();                    // with mu_ held
    void RemoveLinks();                   // with mu_ held
    void HandleBytes(const std::uint8_t* data, std::size_t size);
    void HandleFrame(const Bytes& frame);
    void Schedule(Clock::time_point when, Event event);
    void RunDueEvents();
    void FlushOutput();
    void Wake();
    void Log(const std::string& line);
    bool RunOnWorker(std::function<void()> fn, int timeoutMs);

    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::ostream* log_;
    Clock::time_point start_;
    std::thread worker_;
    bool running_ = false;
    bool stop_ = false;

    int masterFd_ = -1;
    int slaveFd_ = -1;         // our own handle: keeps the line up
    int wakeFds_[2] = {-1, -1};
    std::string slavePath_;
    std::vector<std::string> links_;

    Settings settings_;
    Behaviour runBehaviour_;
    std::deque<Behaviour> queued_;

    Bytes partial_;            // frame being received
    Clock::time_point lastByte_;
    Bytes output_;             // written to the master as it will take it
    std::multimap<Clock::time_point, Event> events_;
    std::deque<std::function<void()>> requests_;
    Clock::time_point masterQuietUntil_;   // after EIO: poll the master later

    std::deque<Bytes> frames_;
    std::deque<Bytes> replies_;
    std::size_t frameCount_ = 0;
    std::size_t discarded_ = 0;
    std::size_t partialsDropped_ = 0;
    std::size_t hangups_ = 0;
};

}  // namespace vprinter
