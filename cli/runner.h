// Runs a job on one printer: for each step, drop stale input, send the
// frame, read the reply only as long as it needs, and judge it.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/codepage.h"
#include "cli/line.h"
#include "cli/plan.h"
#include "cli/reply_reader.h"

namespace morvane::cli {

struct Outcome {
    std::string port;
    std::string key;
    std::string value;  // UTF-8: what was set, or what was read
    Result result = Result::Error;
    long long ms = 0;
    bool read = false;
    std::string hex;         // reads: the value's raw bytes
    std::string detail;      // why it is not ok, or a note
    int switchedToBaud = 0;  // baud: the line now runs at this speed
    int baud = 0;            // probe: the speed that answered
};

using LineOpener = std::function<std::unique_ptr<Line>(const PortName&, int baud, std::string* error)>;
using TraceSink = std::function<void(const std::string& line)>;  // empty: no trace

struct RunOptions {
    int baud = 9600;
    std::chrono::milliseconds timeout{1000};
    bool verify = false;
    CodePage codePage;
    TraceSink trace;
};

// One outcome per step, in order. `done` counts finished steps, for a
// progress display on another thread.
std::vector<Outcome> RunPrinter(const PortName& port, const std::vector<Step>& steps, const RunOptions& options,
                                const LineOpener& open, Clock& clock, std::atomic<std::size_t>* done);

// Tries the read-address frame at each speed in turn (9600, 115200, 19200,
// 38400, 57600, 4800, 2400); the first that answers is the printer's.
Outcome ProbePrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock);
const std::vector<int>& ProbeSpeeds();

// "[   0.012] COM3 tx 1D 46 7C 04"
std::string TraceLine(TimePoint start, TimePoint now, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t size);

}  // namespace morvane::cli
