#include "cli/station/screen/screen_policy.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace morvane::cli {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool IsIpv4(std::string_view text) {
    int parts = 0;
    while (true) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        const std::size_t digits = static_cast<std::size_t>(end - text.data());
        if (ec != std::errc() || digits == 0 || digits > 3 || value > 255) return false;
        ++parts;
        text.remove_prefix(digits);
        if (text.empty()) return parts == 4;
        if (text.front() != '.' || parts == 4) return false;
        text.remove_prefix(1);
    }
}

// Hex groups and colons (an IPv4 tail allowed), one "::" at most.
bool IsIpv6(std::string_view text) {
    if (text.size() < 2 || text.find(':') == std::string_view::npos) return false;
    if (text.find("::") != text.rfind("::")) return false;
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; });
}

bool ParsePort(std::string_view text, unsigned short* port) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 65535) return false;
    *port = static_cast<unsigned short>(value);
    return true;
}

bool Wildcard(const std::string& host) { return host == "0.0.0.0" || host == "::"; }

// The Host header's name and port: "127.0.0.1:8080", "[::1]", "localhost".
bool SplitHost(std::string_view host, std::string_view* name, std::optional<std::string_view>* port) {
    std::size_t colon = std::string_view::npos;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            colon = close + 1;
        }
    } else {
        colon = host.find(':');
        if (colon != std::string_view::npos && host.find(':', colon + 1) != std::string_view::npos) return false;
    }
    *name = host.substr(0, colon);
    if (colon != std::string_view::npos) *port = host.substr(colon + 1);
    return !name->empty();
}

bool HostAllowed(std::string_view header, const ScreenAddress& bound) {
    std::string_view nameView;
    std::optional<std::string_view> portText;
    if (!SplitHost(header, &nameView, &portText)) return false;
    unsigned short port = 0;
    if (portText && (!ParsePort(*portText, &port) || port != bound.port)) return false;
    const std::string name = Lower(nameView);
    if (name == "localhost" || name == "127.0.0.1" || name == "[::1]" || name == Lower(UrlHost(bound.host)))
        return true;
    // Listening everywhere, the machine is reached by any of its addresses;
    // a rebinding attack needs a name, and names stay refused.
    const bool literal = IsIpv4(name) || (name.size() > 2 && name.front() == '[' && name.back() == ']' &&
                                          IsIpv6(std::string_view(name).substr(1, name.size() - 2)));
    return Wildcard(bound.host) && literal;
}

// Compares in a time that does not tell how much of a guess was right.
bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

bool HasToken(std::string_view query, std::string_view token) {
    bool found = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.rfind("token=", 0) == 0) found = SameSecret(pair.substr(6), token) || found;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return found && !token.empty();
}

}  // namespace

std::optional<ScreenAddress> ParseScreenAddress(std::string_view text, std::string* error) {
    ScreenAddress address;
    std::string_view portText = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
        if (bracketed) host = host.substr(1, host.size() - 2);
        if (host == "localhost") {
            address.host = "127.0.0.1";
        } else if ((bracketed && IsIpv6(host)) || (!bracketed && IsIpv4(host))) {
            address.host = Lower(host);
        } else {
            *error = "--http \"" + std::string(text) +
                     "\": the address is an IPv4 address, an IPv6 one in brackets ([::1]) or localhost";
            return std::nullopt;
        }
    }
    if (!ParsePort(portText, &address.port)) {
        *error = "--http \"" + std::string(text) + "\": the port is a number from 0 (any free one) to 65535";
        return std::nullopt;
    }
    return address;
}

std::string UrlHost(const std::string& host) { return host.find(':') != std::string::npos ? "[" + host + "]" : host; }

ScreenVerdict JudgeRequest(std::string_view method, std::string_view target, std::optional<std::string_view> host,
                           const ScreenAddress& bound, std::string_view token) {
    if (method != "GET" && method != "HEAD") return {405};
    if (!host || !HostAllowed(*host, bound)) return {403};
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    if (question == std::string_view::npos || !HasToken(target.substr(question + 1), token)) return {401};
    if (path == "/" || path == "/index.html") return {200, ScreenResource::Page};
    if (path == "/screen.js") return {200, ScreenResource::Script};
    if (path == "/screen.css") return {200, ScreenResource::Style};
    if (path == "/state") return {200, ScreenResource::State};
    if (path == "/events") return {200, ScreenResource::Events};
    return {404};
}

}  // namespace morvane::cli
