// Runs a job on one printer: for each step, drop stale input, send the
// frame, read the reply only as long as it needs, and judge it. Each key's
// record goes to the job's sink the moment it is known.
//
// A job stops at the first no-answer or line error: the printer's state is
// unknown from there on, and the keys after it are not sent (unless
// keepGoing). It stops as well when asked to: no new frame leaves, the one
// on the wire is waited for within its time-out.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/text/codepage.h"
#include "cli/run/line.h"
#include "cli/run/plan.h"
#include "cli/run/record.h"
#include "cli/run/reply_reader.h"

namespace morvane::cli {

using LineOpener = std::function<std::unique_ptr<Line>(const PortName&, int baud, std::string* error)>;
using TraceSink = std::function<void(const std::string& line)>;  // empty: no trace

struct RunOptions {
    int baud = 9600;
    std::chrono::milliseconds timeout{1000};
    std::chrono::milliseconds connectTimeout{1000};  // network lines: for the line opener
    bool verify = false;
    bool keepGoing = false;  // send the keys after a no-answer too
    // Read bt-name and bt-password first and leave them alone when they
    // already hold the text: a second run changes nothing.
    bool skipSame = false;
    CodePage codePage;
    TraceSink trace;
    const std::atomic<bool>* stop = nullptr;  // set: send no new frame
};

// One record a step, still to be filled in: the port, the key, the value.
std::vector<Record> BlankRecords(const std::string& port, const std::vector<Step>& steps);

// Where a job's records go.
class JobSink {
public:
    virtual ~JobSink() = default;
    // Step i's frame is about to leave: from now on the printer may take it.
    virtual void Sending(std::size_t step) = 0;
    virtual void Done(std::size_t step, const Record& record) = 0;
};

// How a job left the printer.
struct JobEnd {
    int listensAt = 0;     // an accepted baud setting moved it to this speed
    int mayListenAt = 0;   // a baud setting got no answer: it may listen at this
    bool cutOff = false;   // some keys were not sent
    bool stopped = false;  // cut off because the run was told to stop
};

JobEnd RunPrinter(const PortName& port, const std::vector<Step>& steps, const RunOptions& options,
                  const LineOpener& open, Clock& clock, JobSink& sink);

// Tries the read-address frame at each speed in turn (9600, 115200, 19200,
// 38400, 57600, 4800, 2400); the first that answers is the printer's.
Record ProbePrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock);
const std::vector<int>& ProbeSpeeds();

// A network printer found by a scan: the read-address frame, answered in
// its own form (1D 46 74 L text), then the name read. Nothing else is ever
// sent, and the name read only to what answered as a printer.
struct NetworkFind {
    bool connected = false;
    bool printer = false;
    Record address;  // printer: its bt-address record
    Record name;     // printer: its bt-name record (perhaps not ok)
};
NetworkFind IdentifyPrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock);

// "[   0.012] COM3 tx 1D 46 7C 04"
std::string TraceLine(TimePoint start, TimePoint now, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t size);

}  // namespace morvane::cli
