// What one command leaves for the next on the same line: the frames whose
// answer had not come when it let the line go (a printer may still send
// that answer, and the next command must not take it for its own frame's:
// it waits for it, bounded by kLateHorizon, before it sends a frame with the
// same code), and that a check showed the line not to echo (for a while: a
// loopback plug may take a printer's place). Kept in a file of the user's
// own per line, written only when there is something to keep.
#pragma once
#include <chrono>
#include <string>

#include "cli/ports/port_name.h"
#include "cli/run/reply_reader.h"

namespace morvane::cli {

// How long a line once shown not to echo is taken not to.
constexpr std::chrono::minutes kQuietKept{10};

// What the last command left for this line: nothing, only that it does not
// echo, or answers still owed as well.
enum class Recalled { Nothing, QuietOnly, Owed };
Recalled RecallOwed(const PortName& port, LineState* state);
// Keeps what there is to keep for the next command, replacing or removing
// what was recalled.
void KeepOwed(const PortName& port, const LineState& state, Recalled recalled);

// The file's name for a port: the port's own name, kept to safe characters,
// and a hash of it, so that two names never share a file.
std::string OwedFileName(const PortName& port);

}  // namespace morvane::cli
