// Milliseconds from now to a deadline, as the system's waits take them:
// rounded up (never a wait that ends a little early), 0 once it has passed,
// -1 for none (TimePoint::max()), and capped to fit an int.
#pragma once
#include <algorithm>
#include <chrono>

namespace morvane::cli {

inline int MsUntil(std::chrono::steady_clock::time_point deadline,
                   std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
    if (deadline == std::chrono::steady_clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace morvane::cli
