#include "libs/tarnport/port_name.h"

#include <string_view>

#include "libs/tarnport/text.h"

namespace tarnport {

std::optional<PortId> ParsePortName(const char* name) {
    if (name == nullptr) return std::nullopt;
    std::string_view text(name);
    if (!text.empty() && text.back() == ':') text.remove_suffix(1);
    if (text.size() < 4 || text.size() > 6) return std::nullopt;
    const std::string prefix = Upper(text.substr(0, 3));
    PortKind kind;
    if (prefix == "COM")
        kind = PortKind::Com;
    else if (prefix == "USB")
        kind = PortKind::Usb;
    else if (prefix == "LPT")
        kind = PortKind::Lpt;
    else
        return std::nullopt;
    int number = 0;
    for (char c : text.substr(3)) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kMaxPortNumber) return std::nullopt;
    return PortId{kind, number, prefix + std::to_string(number)};
}

const char* KindPrefix(PortKind kind) {
    switch (kind) {
        case PortKind::Com: return "COM";
        case PortKind::Usb: return "USB";
        case PortKind::Lpt: return "LPT";
    }
    return "";
}

}  // namespace tarnport
