// Globs on Windows: matched against the machine's port names ("COM*").
#include "cli/line.h"
#include "cli/port_resolve.h"

namespace morvane::cli {

std::vector<std::string> ExpandGlob(const std::string& pattern) {
    std::vector<std::string> names;
    for (const PortInfo& port : ListPorts())
        if (GlobMatch(pattern, port.name)) names.push_back(port.name);
    return names;
}

}  // namespace morvane::cli
