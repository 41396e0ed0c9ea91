#include "cli/port_name.h"

#include "port/port_name.h"

namespace morvane::cli {

std::optional<PortName> ParsePortName(std::string_view text) {
    if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
    if (const std::optional<NumberedPort> numbered = ParseNumberedPort(text)) {
        const PortName::Kind kind = numbered->kind == PortKind::Com   ? PortName::Kind::Com
                                    : numbered->kind == PortKind::Usb ? PortName::Kind::Usb
                                                                      : PortName::Kind::Lpt;
        return PortName{kind, numbered->number, std::string(text)};
    }
    if (text.front() == '/') return PortName{PortName::Kind::Device, 0, std::string(text)};
    return std::nullopt;
}

}  // namespace morvane::cli
