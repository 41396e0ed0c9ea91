// What the command needs of the platform besides the line: its arguments
// as UTF-8, a terminal test, and a way to run jobs side by side.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace morvane::cli {

// The program's arguments as UTF-8 texts, argv[0] first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Makes standard output and error take UTF-8 (a no-op where they always do).
void PrepareConsole();
bool StandardErrorIsTerminal();

// Runs job(0) .. job(count - 1) at once, each on a thread of its own, and
// calls tick() on the calling thread about every tickMs until all are done.
void RunInParallel(std::size_t count, const std::function<void(std::size_t)>& job, const std::function<void()>& tick,
                   unsigned tickMs);

}  // namespace morvane::cli
