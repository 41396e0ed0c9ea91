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
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "event_queue.h"
#include "log_writer.h"
#include "printer_core.h"
#include "printer_model.h"
#include "pty_line.h"
#include "reply_shaper.h"

namespace vprinter {

// Silence that ends a partial frame.
constexpr int kSilenceMs = 500;

// How the printer's end of the line behaves as a UART would.
struct LineOptions {
    // Frames and answers take their time on the wire: 10 bits a byte at the
    // speed the other end set on the line. A frame counts as received its
    // length in byte times after its first byte came; answer byte k leaves
    // k byte times after that.
    bool pace = false;
    // The printer's own speed; a `baud` setting it accepts changes it once
    // the status reply has been written.
    int baud = 9600;
    // Answer only while the line's speed equals the printer's own: frames
    // at another speed are ignored (counted in BytesDiscarded(), logged).
    bool strictSpeed = false;
    // The line sends every byte it is sent straight back (a loopback plug
    // or a converter that echoes), the printer behind it answering as well.
    bool echo = false;
};

class VirtualPrinter {
public:
    // `log`, when given, receives a line per frame, reply and event; it must
    // outlive the printer. It is written by a thread of its own, never under
    // the printer's lock: a stream that stops taking lines holds up no call
    // (see LogWriter). Stop() waits, bounded, for the lines so far.
    explicit VirtualPrinter(std::ostream* log = nullptr);
    ~VirtualPrinter();  // Stop()
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

    // Any time; `baud` becomes the printer's own speed at once.
    void SetLineOptions(const LineOptions& options);
    LineOptions GetLineOptions() const;
    int CurrentBaud() const;  // the printer's own speed now
    long LineSpeed() const;   // what the other end set; 0 when closed

    Settings GetSettings() const;
    void SetSettings(const Settings& settings);  // replaces all, marks too
    void SetName(const std::string& name);       // up to 255 bytes
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
    static constexpr std::size_t kMaxRecorded = vprinter::kMaxRecorded;
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
    void ClearFrames();  // frames and replies

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

    // Writes and hang-ups waiting for their time. Late or piecemeal answers
    // to a flood of frames keep at most kMaxScheduled; beyond it the oldest
    // go, and the log says so.
    static constexpr std::size_t kMaxScheduled = vprinter::kMaxScheduled;
    std::size_t ScheduledCount() const;

    // From now on every frame draws its fate from `seed` (see chaos.h), the
    // command's time-out being timeoutMs; faults no longer apply. The line's
    // own way (plain, echo, loopback, copy) is drawn at once.
    void SetChaos(std::uint64_t seed, int timeoutMs);
    ChaosLine GetChaosLine() const;  // Plain without chaos
    // The account of every frame from `seq` on (ChaosNext(): the next to come).
    std::vector<ChaosEntry> ChaosSince(std::uint64_t seq) const;
    std::uint64_t ChaosNext() const;

    std::size_t BytesDiscarded() const;        // garbage and dropped partials
    std::size_t PartialFramesDropped() const;  // frames cut off by silence
    std::size_t HangupCount() const;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxLoggedBytes = 64;  // of a frame or answer, in a log line

    // The worker and its line (printer_worker.cpp).
    void Worker();
    bool OpenLine(std::string* error);  // with mu_ held
    void DoHangup(const char* why);     // with mu_ held
    void PointLinks();                  // with mu_ held
    void RemoveLinks();                 // with mu_ held
    void RunDueEvents();
    void FlushOutput();
    void Wake();
    // Frames in, answers scheduled (printer_answers.cpp).
    void HandleBytes(const std::uint8_t* data, std::size_t size);
    void HandleFrame(const Bytes& frame, Clock::time_point firstByte);
    void Schedule(Clock::time_point when, Event event);
    void ReportDroppedEvents();  // with mu_ held
    // Shared by both (virtual_printer.cpp).
    void Log(const std::string& line);
    bool RunOnWorker(std::function<void()> fn, int timeoutMs);

    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::unique_ptr<LogWriter> log_;
    Clock::time_point start_;
    std::thread worker_;
    bool running_ = false;
    bool stop_ = false;

    PtyLine line_;
    int wakeFds_[2] = {-1, -1};
    std::vector<std::string> links_;

    PrinterCore core_;  // what it stores, records and has scheduled

    FrameReader reader_;  // the frame being received
    Clock::time_point lastByte_;
    Clock::time_point frameStart_;  // its first byte came
    LineOptions options_;
    int ownBaud_ = 9600;
    Bytes output_;  // written to the master as it will take it
    std::deque<std::function<void()>> requests_;
    Clock::time_point masterQuietUntil_;  // after EIO: poll the master later

    std::size_t discarded_ = 0;
    std::size_t partialsDropped_ = 0;
    std::size_t hangups_ = 0;
};

}  // namespace vprinter
