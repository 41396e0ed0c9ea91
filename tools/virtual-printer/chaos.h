// A printer that misbehaves at random, from a seed, and keeps an account of
// what it really did with every frame: the history against which a checker
// judges a command's records. The same seed and the same frames give the
// same fates.
//
// The line is drawn once: a plain line, a line that echoes (every byte it
// is sent comes straight back, and the printer behind it answers too), a
// loopback plug (an echo and no printer at all), or a printer that
// acknowledges set frames by copying them.
//
// Each frame then draws one fate, placed around the command's time-out T:
//   prompt      its answer within T/5
//   refused     its answer, byte 3 0xFF, within T/5; the setting not stored
//   silent      no answer (stored or not)
//   late        its answer (or refusal) well past T, while later frames and
//               later commands are answered meanwhile: from T + max(40 ms,
//               T/3) up to 1.5 s more ("late-value" for reads)
//   flood       a burst of answers naming codes no setting uses, for up to
//               2T, its own answer among them or not
//   junk        bytes that answer nothing (never 1D), then its answer or not
//   cut         only the first bytes of its answer
//   pieces      its answer in pieces a few ms apart, whole within T/2
//   copy        (set frames of 4 bytes) a copy of the frame as its answer
//   hangup      the line hangs up (stored or not)
// Every headed answer on the line is the real answer to a real frame: the
// history is never muddied by answers nobody asked for.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <string>

#include "printer_model.h"
#include "reply_shaper.h"

namespace vprinter {

enum class ChaosLine { Plain, Echo, Loopback, Copy };
const char* ChaosLineName(ChaosLine line);

// What the printer did with one frame.
struct ChaosEntry {
    std::uint64_t seq = 0;  // from 1, in the order the frames came
    std::int64_t rxUs = 0;  // the frame was in: steady clock, µs since its epoch
    Bytes frame;
    std::string fate;             // "prompt", "refused", ...
    bool applied = false;         // its setting was stored
    Bytes answer;                 // its own answer, whole (empty: none)
    std::string value;            // a read's answer: the text it carries
    std::int64_t writtenUs = -1;  // its own answer's last byte went on the line; -1: not (yet)
};

// What goes on the line for one frame.
struct ChaosPlan {
    ShapedReply shaped;
    // The pieces of the frame's own answer, first to last; pieces.size() when none.
    std::size_t firstOwnPiece = 0;
    std::size_t lastOwnPiece = 0;
};

class Chaos {
public:
    Chaos(std::uint64_t seed, int timeoutMs);
    ChaosLine Line() const { return line_; }
    int TimeoutMs() const { return timeoutMs_; }

    // Draws the frame's fate, applies the frame to *settings or not, and
    // fills in *entry (all but seq, rxUs and writtenUs).
    ChaosPlan Decide(const Bytes& frame, Settings* settings, ChaosEntry* entry);

private:
    int Uniform(int low, int high);  // inclusive
    bool Chance(int percent);
    Bytes Junk(const Bytes& frame);

    std::mt19937_64 rng_;
    int timeoutMs_;
    ChaosLine line_;
};

// The account: entries by sequence number, the oldest forgotten beyond a
// bound so that a long soak keeps its memory flat.
class ChaosBook {
public:
    static constexpr std::size_t kKept = 1 << 16;
    std::uint64_t Add(ChaosEntry entry);  // its seq
    void Written(std::uint64_t seq, std::int64_t us);
    // Copies of the entries from `seq` on.
    std::vector<ChaosEntry> Since(std::uint64_t seq) const;
    std::uint64_t Next() const { return next_; }

private:
    std::deque<ChaosEntry> entries_;
    std::uint64_t next_ = 1;
};

// Microseconds since the steady clock's epoch: one clock for every process
// on the machine, so a checker can set them beside its own.
std::int64_t SteadyMicros(std::chrono::steady_clock::time_point t);

// One entry as a JSON line, for --chaos-log.
std::string ChaosEntryJson(const ChaosEntry& entry);

}  // namespace vprinter
