#include "cli/text/profile.h"

#include <algorithm>

namespace morvane::cli {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The value after "=": quoted, or plain up to a "#".
bool ParseValue(std::string_view rest, std::string* value, std::string* error) {
    rest = Trim(rest);
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
        const char quote = rest.front();
        const std::size_t close = rest.find(quote, 1);
        if (close == std::string_view::npos) {
            *error = std::string("no closing ") + quote;
            return false;
        }
        const std::string_view after = Trim(rest.substr(close + 1));
        if (!after.empty() && after.front() != '#') {
            *error = "text after the closing quote";
            return false;
        }
        value->assign(rest.substr(1, close - 1));
        return true;
    }
    const std::size_t hash = rest.find('#');
    value->assign(Trim(rest.substr(0, hash)));
    return true;
}

}  // namespace

bool ParseProfile(std::string_view text, std::vector<ProfileEntry>* entries, ProfileError* error) {
    entries->clear();
    // A byte-order mark from an editor is not part of the first key.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const auto fail = [&](std::string message) {
            *error = {number, std::move(message)};
            return false;
        };
        if (line.find('\0') != std::string_view::npos) return fail("a zero byte in the line");
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;
        const std::size_t eq = trimmed.find('=');
        if (eq == std::string_view::npos) return fail("expected key = value");
        const std::string_view key = Trim(trimmed.substr(0, eq));
        if (key.empty()) return fail("no key before \"=\"");
        if (!std::all_of(key.begin(), key.end(), IsKeyChar)) return fail("bad key \"" + std::string(key) + "\"");
        ProfileEntry entry{number, std::string(key), {}};
        std::string why;
        if (!ParseValue(trimmed.substr(eq + 1), &entry.value, &why)) return fail(why);
        for (const ProfileEntry& earlier : *entries)
            if (earlier.key == entry.key)
                return fail("key " + entry.key + " given twice (first on line " + std::to_string(earlier.line) + ")");
        entries->push_back(std::move(entry));
    }
    return true;
}

}  // namespace morvane::cli
