#include "cli/ports/open_files.h"

#include <sys/resource.h>

#include <algorithm>

namespace morvane::cli {

namespace {

// Standard streams, the signal thread, libserialport, iconv: files the
// command holds whatever the batch.
constexpr rlim_t kReserved = 32;
// A line, and while a host name is looked up the resolver's file or socket.
constexpr rlim_t kFilesPerLine = 2;

}  // namespace

FileRoom MakeRoomForLines(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {wanted, 0};
    const rlim_t needed = kReserved + kFilesPerLine * static_cast<rlim_t>(wanted);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY) return {wanted, 0};
    const rlim_t fit = limit.rlim_cur > kReserved + kFilesPerLine ? (limit.rlim_cur - kReserved) / kFilesPerLine : 1;
    return {std::min<std::size_t>(wanted, static_cast<std::size_t>(fit)), static_cast<std::size_t>(limit.rlim_cur)};
}

}  // namespace morvane::cli
