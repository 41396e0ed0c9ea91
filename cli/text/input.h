// Reading what the user hands the command: a profile file or standard
// input, bounded, so that a device or an endless stream named by mistake
// ends at once with a message instead of a hang or a full memory.
#pragma once
#include <cstddef>
#include <istream>
#include <string>

namespace morvane::cli {

constexpr std::size_t kMaxProfileBytes = 1 << 20;  // 1 MiB: far more than 17 keys need

// "-" reads `standardInput`; any other name must be a regular file. False
// with a message naming the file when it is missing, not a regular file, or
// larger than kMaxProfileBytes.
bool ReadProfileText(const std::string& name, std::istream& standardInput, std::string* text, std::string* error);

}  // namespace morvane::cli
