// The checker's judgement of one command: every record against what the
// printers' accounts say they really did, frame by frame.
//
//   ok        the printer's own answer to that frame (not 0xFF), whole on
//             the line within the time-out; a read's value what it sent
//   refused   its own 0xFF answer in time (or, with --verify, a read-back
//             in time of another text)
//   not-sent  no frame of that key left the command
//   no-answer, error   allowed; a prompt answer the command let pass is
//             counted as missed
// and: one record per key, in order; the exit status the worst result;
// every key within its bound.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "chaos.h"
#include "jobs.h"

namespace chaos {

// What one port's line did during the command.
struct LineAccount {
    std::string port;
    vprinter::ChaosLine kind = vprinter::ChaosLine::Plain;
    std::vector<vprinter::ChaosEntry> entries;  // the frames it took, in order
};

struct Tally {
    std::uint64_t keys = 0, ok = 0, refused = 0, noAnswer = 0, error = 0, notSent = 0;
    std::uint64_t falseOk = 0, falseRefused = 0, prompt = 0, missed = 0, otherViolations = 0;
    double worstBoundShare = 0;  // the slowest key's time over its bound
    void Add(const Tally& t);
};

struct Verdict {
    Tally tally;
    std::vector<std::string> violations;
    std::vector<std::string> missed;  // prompt answers the command let pass
};

struct CommandRun {
    int status = -1;
    std::string out, err;
    bool signalled = false;
    bool killedBeforeStart = false;  // the signal came before the command could take it
};

// keySlackMs: past the frames' time-outs, what a key may take to start and
// end (a process's scheduling; more in a sanitized build).
Verdict Judge(const Job& job, const CommandRun& run, const std::vector<LineAccount>& lines, int timeoutMs,
              long long keySlackMs);

// The frames the command's --trace says left for a port: bytes, and whether a check.
struct SentFrame {
    std::vector<std::uint8_t> bytes;
    std::vector<bool> masked;  // a password's bytes, shown as ** in the trace
    bool check = false;
    bool Matches(const std::vector<std::uint8_t>& frame) const;
};
std::vector<SentFrame> SentFrames(const std::string& trace, const std::string& port);

}  // namespace chaos
