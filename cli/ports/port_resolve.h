// From the ports the user named to the ports a run opens: plain names,
// tcp:// addresses and selectors (usb:, bt:, globs; see selector.h), each
// checked for this platform, none twice. Nothing is opened here.
#pragma once
#include <string>
#include <vector>

#include "cli/ports/port_info.h"
#include "cli/ports/port_name.h"
#include "cli/ports/selector.h"

namespace morvane::cli {

// What one selector stood for, for --dry-run.
struct Resolution {
    std::string selector;
    std::vector<std::string> ports;
};

enum class ResolveStatus {
    Ok,
    BadUsage,  // a name that means nothing here: exit 2
    NoMatch,   // a selector that matches no port: exit 3
};

// *error names the culprit when not Ok.
ResolveStatus ResolvePorts(const std::vector<std::string>& names, std::vector<PortName>* ports,
                           std::vector<Resolution>* resolutions, std::string* error);

// The ports that match any of `selectors` now (usb: and bt: among `listed`,
// globs on the file system), without complaint when none do.
std::vector<std::string> MatchNow(const std::vector<Selector>& selectors, const std::vector<PortInfo>& listed);

// The paths a glob matches now: files on POSIX, port names on Windows.
std::vector<std::string> ExpandGlob(const std::string& pattern);

}  // namespace morvane::cli
