#include "libs/tarnport/text.h"

namespace tarnport {

std::string Upper(std::string_view text) {
    std::string out(text);
    // ASCII only: port names and section names are ASCII, paths are not touched.
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace tarnport
