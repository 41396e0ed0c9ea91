#include "libs/tarnport/ini_parse.h"

#include <algorithm>

#include "libs/tarnport/text.h"

namespace tarnport {

IniEntries ParsePortsSection(std::string_view text) {
    IniEntries entries;
    bool inPorts = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            inPorts = line.back() == ']' && Upper(Trim(line.substr(1, line.size() - 2))) == "PORTS";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inPorts || eq == std::string_view::npos) continue;
        const std::string key = Upper(Trim(line.substr(0, eq)));
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; }),
                      entries.end());
        if (!value.empty()) entries.emplace_back(key, std::string(value));
    }
    return entries;
}

}  // namespace tarnport
