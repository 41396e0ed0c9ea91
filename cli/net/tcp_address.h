// Network printers as the command names them: tcp://HOST[:PORT], the raw
// socket such printers take the byte stream on (port 9100 by convention).
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// (tcp://[::1]:9100), with the interface of a link-local one after a %
// (tcp://[fe80::1%eth0]:9100, or its number: %2). Only the text is read
// here; names and interfaces are resolved when the line opens.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace morvane::cli {

constexpr int kPrinterTcpPort = 9100;

struct TcpAddress {
    std::string host;  // without the brackets of an IPv6 address, with its %scope
    int port = kPrinterTcpPort;
};

// Whether the text is meant as a network port at all: it begins "tcp://".
bool LooksLikeTcp(std::string_view text);
// Nothing, with the reason in *why, for a tcp:// text that names no port.
std::optional<TcpAddress> ParseTcpAddress(std::string_view text, std::string* why);
// "tcp://127.0.0.5:9100", "tcp://[::1]:9100"
std::string TcpText(const TcpAddress& address);

}  // namespace morvane::cli
