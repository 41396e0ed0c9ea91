#include "cli/station/slots.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace morvane::cli {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::optional<SlotNames> SlotNames::Read(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot read the slots' names";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), path, error);
}

std::optional<SlotNames> SlotNames::Parse(const std::string& text, const std::string& origin, std::string* error) {
    SlotNames slots;
    std::istringstream lines(text);
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        line = Trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string place = eq == std::string::npos ? std::string() : Trimmed(line.substr(0, eq));
        const std::string name = eq == std::string::npos ? std::string() : Trimmed(line.substr(eq + 1));
        const std::string where = origin + ":" + std::to_string(number) + ": ";
        if (place.empty() || name.empty()) {
            *error = where + "not PLACE = NAME (for example 1-1.3 = A1)";
            return std::nullopt;
        }
        if (slots.names_.count(place) != 0) {
            *error = where + "the place " + place + " is named twice";
            return std::nullopt;
        }
        if (std::find(slots.order_.begin(), slots.order_.end(), name) != slots.order_.end()) {
            *error = where + "the name " + name + " is given twice";
            return std::nullopt;
        }
        slots.names_[place] = name;
        slots.order_.push_back(name);
    }
    return slots;
}

std::string SlotNames::SlotOf(const std::string& port, const std::optional<PortInfo>& identity) const {
    const std::string place = identity && !identity->identity.usbPath.empty() ? identity->identity.usbPath : port;
    if (const auto named = names_.find(place); named != names_.end()) return named->second;
    if (const auto byPort = names_.find(port); byPort != names_.end()) return byPort->second;
    return place;
}

}  // namespace morvane::cli
