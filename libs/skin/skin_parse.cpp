#include "libs/skin/skin_parse.h"

#include <cctype>

namespace skin {
namespace {

constexpr std::string_view kHeader = "SkinPlusPlus Skin 1";

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

bool IsColour(std::string_view value) {
    if (value.size() != 6) return false;
    for (char c : value) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

std::optional<std::map<std::string, std::uint32_t>> ParseSkin(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::map<std::string, std::uint32_t> colours;
    std::string section;
    bool headerSeen = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end < text.size() ? end + 1 : end);
        if (!headerSeen) {
            if (line != kHeader) return std::nullopt;
            headerSeen = true;
            continue;
        }
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return std::nullopt;
            section = std::string(Trim(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || section.empty()) return std::nullopt;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty()) return std::nullopt;
        if (section == "Colors") {
            if (!IsColour(value)) return std::nullopt;
            colours[std::string(key)] = static_cast<std::uint32_t>(std::stoul(std::string(value), nullptr, 16));
        }
    }
    if (!headerSeen || colours.empty()) return std::nullopt;
    return colours;
}

}  // namespace skin
