// What one command leaves for the next on the same line: the frames whose
// answer had not come when it let the line go. A printer may still send
// that answer, and the next command must not take it for its own frame's:
// it waits for it (bounded by kLateHorizon) before it sends a frame with
// the same code. Kept in a file of the user's own per line, written only
// when something is owed and removed once nothing is.
#pragma once
#include <string>

#include "cli/port_name.h"
#include "cli/reply_reader.h"

namespace morvane::cli {

// The answers still owed on the line, as the last command left them.
void RecallOwed(const PortName& port, LineState* state);
// Keeps what is owed now for the next command; `recalled`: there was a
// file to replace or remove.
void KeepOwed(const PortName& port, const LineState& state, bool recalled);

// The file's name for a port: the port's own name, kept to safe characters,
// and a hash of it, so that two names never share a file.
std::string OwedFileName(const PortName& port);

}  // namespace morvane::cli
