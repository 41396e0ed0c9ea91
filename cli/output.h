// What the command prints: one line per setting per port, as text for a
// person or as one JSON object per line for a script.
#pragma once
#include <string>
#include <vector>

#include "cli/line.h"
#include "cli/plan.h"
#include "cli/runner.h"

namespace morvane::cli {

std::string FormatOutcome(const Outcome& outcome, bool json);
std::string FormatProbe(const Outcome& outcome, bool json);
std::string FormatDryRun(const std::string& port, const Step& step, bool json);
std::string FormatPort(const PortInfo& port, bool json);
// Every setting with the values it takes, whether it can be read and set.
std::vector<std::string> FormatSettings(bool json);

// 0 all done; 1 a printer refused a setting; 3 no answer, or a port that
// could not be opened. 3 wins over 1, and 1 over 0.
int ExitStatusOf(const std::vector<Outcome>& outcomes);
constexpr int kExitUsage = 2;

}  // namespace morvane::cli
