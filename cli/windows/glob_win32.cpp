// Globs on Windows: matched against the machine's port names ("COM*").
#include "cli/run/line.h"
#include "cli/ports/glob_pattern.h"
#include "cli/ports/port_resolve.h"

namespace morvane::cli {

std::vector<std::string> ExpandGlob(const std::string& pattern) {
    std::vector<std::string> names;
    for (const PortInfo& port : ListPorts())
        if (GlobMatch(pattern, port.name)) names.push_back(port.name);
    return names;
}

}  // namespace morvane::cli
