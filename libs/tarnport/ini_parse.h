// TarnPort.ini as text: the [Ports] section's mappings.
//   [Ports]
//   ; a path Wine reaches, e.g. a link to a pseudo-terminal
//   USB1=Z:\tmp\printer-link
//   ; a serial adapter standing in for a parallel port
//   LPT2=\\.\COM12
// Keys are port names without ':', in any case, with or without spaces
// around '='; lines starting with ';' or '#' are comments (not text after a
// value); an empty value is no mapping. A UTF-8 byte-order mark in front is
// allowed; a line that cannot be read is skipped and changes nothing else.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnport {

// key (upper case) -> device path
using IniEntries = std::vector<std::pair<std::string, std::string>>;

// Every key=value of [Ports], keys upper-cased; a later line for the same
// key wins.
IniEntries ParsePortsSection(std::string_view text);

}  // namespace tarnport
