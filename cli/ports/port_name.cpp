#include "cli/ports/port_name.h"

#include "cli/net/tcp_address.h"
#include "port/port_name.h"

namespace morvane::cli {

std::optional<PortName> ParsePortName(std::string_view text) {
    if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
    if (const std::optional<NumberedPort> numbered = ParseNumberedPort(text)) {
        const PortName::Kind kind = numbered->kind == PortKind::Com   ? PortName::Kind::Com
                                    : numbered->kind == PortKind::Usb ? PortName::Kind::Usb
                                                                      : PortName::Kind::Lpt;
        return PortName{kind, numbered->number, std::string(text), {}};
    }
    if (text.front() == '/') return PortName{PortName::Kind::Device, 0, std::string(text), {}};
    if (LooksLikeTcp(text)) {
        std::string why;
        const std::optional<TcpAddress> address = ParseTcpAddress(text, &why);
        if (!address) return std::nullopt;
        return PortName{PortName::Kind::Tcp, address->port, std::string(text), address->host};
    }
    return std::nullopt;
}

std::string WhyNoPort(std::string_view text) {
    std::string why;
    if (LooksLikeTcp(text) && !ParseTcpAddress(text, &why)) return "is no network port: " + why;
    return "names no port (a device path, COMn, USBn:, LPTn or tcp://HOST[:PORT])";
}

}  // namespace morvane::cli
