// How many lines the command may hold open at once. Every line is a file
// (a tty, a device, a socket), and the system bounds the files a process
// has open (RLIMIT_NOFILE on POSIX); a batch of hundreds of printers must
// stay under that bound rather than fail halfway.
#pragma once
#include <cstddef>

namespace morvane::cli {

struct FileRoom {
    std::size_t lines = 0;  // lines that may be open at once, at most those wanted
    std::size_t limit = 0;  // the limit on open files in force; 0 where the system sets none
};

// Raises the soft limit toward what `wanted` lines need, as far as the hard
// limit allows, and says how many fit.
FileRoom MakeRoomForLines(std::size_t wanted);

}  // namespace morvane::cli
