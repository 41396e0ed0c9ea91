#include "libs/tarnport/ini_parse.h"

#include <algorithm>
#include <optional>

#include "libs/tarnport/text.h"

namespace tarnport {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";  // Notepad writes it in front of UTF-8 text

// "[Name]" -> "Name"; nullopt for anything else, "[Ports" and "[]" included.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') return std::nullopt;
    const std::string_view name = Trim(line.substr(1, line.size() - 2));
    if (name.empty() || name.find_first_of("[]") != std::string_view::npos) return std::nullopt;
    return name;
}

}  // namespace

IniEntries ParsePortsSection(std::string_view text) {
    if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) text.remove_prefix(kUtf8Mark.size());
    IniEntries entries;
    bool inPorts = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        // A line that cannot be read is skipped; it never changes the section.
        if (line.front() == '[') {
            if (const auto name = SectionName(line)) inPorts = Upper(*name) == "PORTS";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inPorts || eq == std::string_view::npos) continue;
        const std::string key = Upper(Trim(line.substr(0, eq)));
        if (key.empty()) continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; }),
                      entries.end());
        if (!value.empty()) entries.emplace_back(key, std::string(value));
    }
    return entries;
}

}  // namespace tarnport
