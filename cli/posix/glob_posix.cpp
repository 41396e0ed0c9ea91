// Globs on POSIX: the file system's own matching (glob(3)), so that
// /dev/serial/by-id/usb-*Printer* means what the shell would make of it.
#include <glob.h>

#include "cli/ports/port_resolve.h"

namespace morvane::cli {

std::vector<std::string> ExpandGlob(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (std::size_t i = 0; i < found.gl_pathc; ++i) paths.push_back(found.gl_pathv[i]);
    globfree(&found);
    return paths;
}

}  // namespace morvane::cli
