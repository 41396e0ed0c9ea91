#include "cli/net/net_range.h"

#include "cli/net/tcp_address.h"

namespace morvane::cli {

namespace {

// A decimal number of at most `digits` digits, no sign, no leading zero.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::size_t digits, std::uint32_t max) {
    if (text.empty() || text.size() > digits || (text.size() > 1 && text.front() == '0')) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > max) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        if ((part < 3) != (dot != std::string_view::npos)) return std::nullopt;
        const std::optional<std::uint32_t> byte = ParseNumber(text.substr(0, dot), 3, 255);
        if (!byte) return std::nullopt;
        address = address << 8 | *byte;
        text = part < 3 ? text.substr(dot + 1) : std::string_view{};
    }
    return address;
}

}  // namespace

std::optional<NetRange> ParseNetRange(std::string_view text, std::string* why) {
    NetRange range;
    range.text = std::string(text);
    range.port = kPrinterTcpPort;
    if (text.find('[') != std::string_view::npos || text.find("::") != std::string_view::npos) {
        *why = "\"" + range.text + "\": IPv6 networks are too large to walk; name the printers with -p tcp://[ADDR]";
        return std::nullopt;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        const std::optional<std::uint32_t> port = ParseNumber(text.substr(colon + 1), 5, 65535);
        if (!port || *port == 0) {
            *why = "\"" + range.text + "\": the TCP port \"" + std::string(text.substr(colon + 1)) +
                   "\" is not a number from 1 to 65535";
            return std::nullopt;
        }
        range.port = static_cast<int>(*port);
        text = text.substr(0, colon);
    }
    const std::size_t slash = text.find('/');
    const std::optional<std::uint32_t> address = ParseIpv4(text.substr(0, slash));
    if (!address) {
        *why = "\"" + range.text + "\" is no IPv4 network such as 192.168.1.0/24";
        return std::nullopt;
    }
    if (slash != std::string_view::npos) {
        const std::optional<std::uint32_t> prefix = ParseNumber(text.substr(slash + 1), 2, 32);
        if (!prefix) {
            *why = "\"" + range.text + "\": the prefix length \"" + std::string(text.substr(slash + 1)) +
                   "\" is not a number from 0 to 32";
            return std::nullopt;
        }
        range.prefix = static_cast<int>(*prefix);
    }
    const std::uint64_t size = std::uint64_t{1} << (32 - range.prefix);
    const std::uint32_t mask = range.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - range.prefix);
    if ((*address & ~mask) != 0) {
        *why = "\"" + range.text + "\" has host bits set: the network is " +
               HostText(NetRange{*address & mask, 1, 32, 0, {}}, 0) + "/" + std::to_string(range.prefix);
        return std::nullopt;
    }
    // A /31 (two hosts on a point-to-point link) and a /32 have no network
    // or broadcast address.
    const bool hostsOnly = range.prefix <= 30;
    range.first = *address + (hostsOnly ? 1 : 0);
    range.count = hostsOnly ? size - 2 : size;
    return range;
}

std::string HostText(const NetRange& range, std::uint64_t index) {
    const std::uint32_t a = range.first + static_cast<std::uint32_t>(index);
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." + std::to_string(a >> 8 & 0xFF) + "." +
           std::to_string(a & 0xFF);
}

}  // namespace morvane::cli
