// From the ports the user named to the ports a run opens: each checked for
// this platform, none twice. Nothing is opened here.
#pragma once
#include <string>
#include <vector>

#include "cli/port_name.h"

namespace morvane::cli {

// False with a message naming the culprit.
bool ResolvePorts(const std::vector<std::string>& names, std::vector<PortName>* ports, std::string* error);

}  // namespace morvane::cli
