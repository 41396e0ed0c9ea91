// The addresses `probe --net` tries: an IPv4 network in CIDR form, with the
// TCP port after it (127.0.0.0/24, 192.168.4.0/22:9101). The hosts of a
// network leave out its network and broadcast addresses (not in a /31 or
// /32). IPv6 networks are too large to walk and are not taken.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::cli {

// Networks larger than this many hosts (a /16) are walked only with --force.
constexpr std::uint64_t kMaxUnforcedHosts = 65536;

struct NetRange {
    std::uint32_t first = 0;  // the first host, in host byte order
    std::uint64_t count = 0;  // hosts in the range
    int prefix = 32;
    int port = 9100;
    std::string text;  // as given
};

// Nothing, with the reason in *why, for a text that is no such range.
std::optional<NetRange> ParseNetRange(std::string_view text, std::string* why);
// "127.0.0.5"
std::string HostText(const NetRange& range, std::uint64_t index);

}  // namespace morvane::cli
