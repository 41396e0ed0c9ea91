// What the command prints: one line per key per port, as text for a person
// or as one JSON object per line for a script, and a summary at the end.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run/ledger.h"
#include "cli/run/line.h"
#include "cli/run/plan.h"
#include "cli/ports/port_resolve.h"
#include "cli/run/record.h"
#include "cli/run/runner.h"

namespace morvane::cli {

std::string FormatRecord(const Record& record, bool json);
std::string FormatProbe(const Record& record, bool json);
std::string FormatDryRun(const std::string& port, const Step& step, bool json);
std::string FormatPort(const PortInfo& port, bool json);
// "usb:0416:5011  ->  /dev/ttyUSB0 /dev/ttyUSB1", for --dry-run.
std::string FormatResolution(const Resolution& resolution, bool json);
// Every setting with the values it takes, whether it can be read and set.
std::vector<std::string> FormatSettings(bool json);

// For a terminal: "\e", "\n", "\xNN" instead of control characters, so
// that a text a printer sends cannot repaint the screen or forge a line.
std::string EscapeControls(std::string_view text);

struct PrinterSpeed {
    std::string port;
    JobEnd end;
};
// "summary: 2 printers, 32 keys: 30 ok, 1 refused, ...", then a line for each
// printer whose speed changed or may have changed.
std::vector<std::string> FormatSummary(std::size_t printers, const std::array<std::size_t, Ledger::kResults>& counts,
                                       const std::vector<PrinterSpeed>& speeds);

// Exit statuses. With several outcomes the worst wins: 4, then a stop
// signal (130, 143), then 3, then 1.
constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;       // a printer refused a key, or --verify read back another text
constexpr int kExitUsage = 2;         // bad usage or input: nothing sent
constexpr int kExitFailed = 3;        // no answer, a line error, a key not sent, a port not reached
constexpr int kExitOutputFailed = 4;  // a result could not be written, or the command failed inside
int ExitStatusOf(const std::array<std::size_t, Ledger::kResults>& counts);

}  // namespace morvane::cli
