// Times for records: UTC, ISO 8601, milliseconds ("2026-12-09T10:15:02.123Z").
#pragma once
#include <chrono>
#include <string>
#include <string_view>

namespace morvane::cli {

std::string UtcTimestamp(std::chrono::system_clock::time_point when);
inline std::string UtcNow() { return UtcTimestamp(std::chrono::system_clock::now()); }

// A UTC time as UtcTimestamp writes it, or cut short after the day, the
// hour, the minute or the second ("2026-12-09", "2026-12-09T10",
// "2026-12-09T10:15", "2026-12-09T10:15:02.1"); the "Z" may be left off.
// False for anything else.
bool ParseUtcTime(std::string_view text, std::chrono::system_clock::time_point* when);

}  // namespace morvane::cli
