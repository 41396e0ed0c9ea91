// The command's commands, once the arguments are read: each returns the
// exit status (see output.h).
#pragma once
#include <string>

#include "cli/options.h"
#include "cli/run/stop_control.h"

namespace morvane::cli {

int RunCommand(const std::string& command, const Options& options, StopControl& stop);

}  // namespace morvane::cli
