// Times for records: UTC, ISO 8601, milliseconds ("2026-12-09T10:15:02.123Z").
#pragma once
#include <chrono>
#include <string>

namespace morvane::cli {

std::string UtcTimestamp(std::chrono::system_clock::time_point when);
inline std::string UtcNow() { return UtcTimestamp(std::chrono::system_clock::now()); }

}  // namespace morvane::cli
