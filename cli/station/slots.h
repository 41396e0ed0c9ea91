// A station's slots: the physical places printers are plugged into, named
// for the operator ("A1") in a file of lines "PLACE = NAME", where PLACE is
// a USB port path as the system gives it ("1-1.3", the same whatever is
// plugged there) or a port's name ("/dev/ttyS0", "COM5"). Blank lines and
// lines starting with # are skipped.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/ports/port_info.h"

namespace morvane::cli {

class SlotNames {
public:
    // Nothing, with "FILE:LINE: why" in *error, for a file that cannot be read.
    static std::optional<SlotNames> Read(const std::string& path, std::string* error);
    static std::optional<SlotNames> Parse(const std::string& text, const std::string& origin, std::string* error);

    // A port's slot: the name given its place, else its place (the USB
    // port path), else the port's own name.
    std::string SlotOf(const std::string& port, const std::optional<PortInfo>& identity) const;
    // The names given, in the file's order: the screen's tiles.
    const std::vector<std::string>& Names() const { return order_; }

private:
    std::map<std::string, std::string> names_;  // place -> name
    std::vector<std::string> order_;
};

}  // namespace morvane::cli
