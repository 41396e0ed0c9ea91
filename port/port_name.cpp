#include "port/port_name.h"

namespace morvane {

namespace {

constexpr std::string_view kDeviceNamespace = "\\\\.\\";
constexpr std::size_t kMaxDigits = 3;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::optional<int> PortNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxDigits || digits[0] == '0') return std::nullopt;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > kMaxPortNumber) return std::nullopt;
    return n;
}

}  // namespace

std::optional<NumberedPort> ParseNumberedPort(std::string_view text) {
    bool deviceNamespace = false;
    if (text.substr(0, kDeviceNamespace.size()) == kDeviceNamespace) {
        text.remove_prefix(kDeviceNamespace.size());
        deviceNamespace = true;
    }
    for (PortKind kind : {PortKind::Com, PortKind::Usb, PortKind::Lpt}) {
        if (!StartsWithIgnoringCase(text, PortKindPrefix(kind))) continue;
        if (deviceNamespace && kind != PortKind::Com) return std::nullopt;
        std::string_view rest = text.substr(3);
        // The device namespace takes no colon: "\\.\COM10:" names nothing.
        if (!deviceNamespace && !rest.empty() && rest.back() == ':') rest.remove_suffix(1);
        const std::optional<int> n = PortNumber(rest);
        if (!n) return std::nullopt;
        return NumberedPort{kind, *n};
    }
    return std::nullopt;
}

const char* PortKindPrefix(PortKind kind) {
    switch (kind) {
        case PortKind::Com: return "COM";
        case PortKind::Usb: return "USB";
        case PortKind::Lpt: return "LPT";
    }
    return "";
}

}  // namespace morvane
