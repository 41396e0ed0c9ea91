#include "cli/net/tcp_address.h"

#include <algorithm>
#include <cctype>

namespace morvane::cli {

namespace {

constexpr std::string_view kScheme = "tcp://";
constexpr int kMaxTcpPort = 65535;

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_'; }

bool IsV6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.'; }

// 1 to 65535 in decimal, no sign, no leading zero.
std::optional<int> ParsePort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5 || digits.front() == '0') return std::nullopt;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port > kMaxTcpPort) return std::nullopt;
    return port;
}

}  // namespace

bool LooksLikeTcp(std::string_view text) {
    if (text.size() < kScheme.size()) return false;
    return std::equal(kScheme.begin(), kScheme.end(), text.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::optional<TcpAddress> ParseTcpAddress(std::string_view text, std::string* why) {
    if (!LooksLikeTcp(text)) {
        *why = "a network port begins tcp://";
        return std::nullopt;
    }
    std::string_view rest = text.substr(kScheme.size());
    TcpAddress address;
    std::string_view portText;
    bool havePort = false;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            *why = "an IPv6 address needs its closing bracket: tcp://[::1]:9100";
            return std::nullopt;
        }
        address.host = std::string(rest.substr(1, close - 1));
        // A link-local address needs its interface: fe80::1%eth0, fe80::1%2.
        const std::size_t percent = address.host.find('%');
        const std::string_view v6 = std::string_view(address.host).substr(0, percent);
        if (v6.empty() || !std::all_of(v6.begin(), v6.end(), IsV6Char) || v6.find(':') == std::string::npos) {
            *why = "\"" + std::string(v6) + "\" is no IPv6 address";
            return std::nullopt;
        }
        if (percent != std::string::npos) {
            const std::string_view scope = std::string_view(address.host).substr(percent + 1);
            if (scope.empty() || !std::all_of(scope.begin(), scope.end(), IsNameChar)) {
                *why = "\"" + std::string(scope) + "\" after % is no network interface (fe80::1%eth0, fe80::1%2)";
                return std::nullopt;
            }
        }
        rest = rest.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                *why = "after the IPv6 address comes :PORT or nothing";
                return std::nullopt;
            }
            portText = rest.substr(1);
            havePort = true;
        }
    } else {
        const std::size_t colon = rest.find(':');
        if (colon != std::string_view::npos && rest.find(':', colon + 1) != std::string_view::npos) {
            *why = "write an IPv6 address in brackets: tcp://[" + std::string(rest) + "]:9100";
            return std::nullopt;
        }
        address.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
            havePort = true;
        }
        if (address.host.empty()) {
            *why = "no host: tcp://HOST[:PORT]";
            return std::nullopt;
        }
        const auto bad = std::find_if_not(address.host.begin(), address.host.end(), IsNameChar);
        if (bad != address.host.end()) {
            *why = "\"" + address.host + "\" is no host name or address (it holds \"" + std::string(1, *bad) + "\")";
            return std::nullopt;
        }
    }
    if (havePort) {
        const std::optional<int> port = ParsePort(portText);
        if (!port) {
            *why = "the TCP port \"" + std::string(portText) + "\" is not a number from 1 to 65535";
            return std::nullopt;
        }
        address.port = *port;
    }
    return address;
}

std::string TcpText(const TcpAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return std::string(kScheme) + (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace morvane::cli
