#include "cli/port_name.h"

#include <cctype>

namespace morvane::cli {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// "7" of "COM7:"; digits only, no leading zero, 1..255.
std::optional<int> PortNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 3 || digits[0] == '0') return std::nullopt;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxPortNumber) return std::nullopt;
    return n;
}

std::optional<PortName> Numbered(PortName::Kind kind, std::string_view rest, bool colonAllowed, std::string_view text) {
    if (colonAllowed && !rest.empty() && rest.back() == ':') rest.remove_suffix(1);
    const std::optional<int> n = PortNumber(rest);
    if (!n) return std::nullopt;
    return PortName{kind, *n, std::string(text)};
}

}  // namespace

std::optional<PortName> ParsePortName(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (StartsWithIgnoringCase(text, "\\\\.\\COM")) return Numbered(PortName::Kind::Com, text.substr(7), false, text);
    if (StartsWithIgnoringCase(text, "COM")) return Numbered(PortName::Kind::Com, text.substr(3), true, text);
    if (StartsWithIgnoringCase(text, "USB")) return Numbered(PortName::Kind::Usb, text.substr(3), true, text);
    if (StartsWithIgnoringCase(text, "LPT")) return Numbered(PortName::Kind::Lpt, text.substr(3), true, text);
    if (text.front() == '/' && text.find('\0') == std::string_view::npos)
        return PortName{PortName::Kind::Device, 0, std::string(text)};
    return std::nullopt;
}

}  // namespace morvane::cli
