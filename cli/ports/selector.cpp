#include "cli/ports/selector.h"

#include <algorithm>
#include <cctype>

#include "cli/net/tcp_address.h"

namespace morvane::cli {

namespace {

constexpr std::string_view kUsb = "usb:";
constexpr std::string_view kBluetooth = "bt:";
constexpr std::size_t kIdDigits = 4;
constexpr std::size_t kAddressBytes = 6;

bool IsHex(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool ParseUsb(std::string_view rest, Selector* s) {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view vendor = rest.substr(0, colon);
    std::string_view product = rest.substr(colon + 1);
    const std::size_t serialAt = product.find(':');
    if (serialAt != std::string_view::npos) {
        s->serial = std::string(product.substr(serialAt + 1));
        product = product.substr(0, serialAt);
        if (s->serial.empty()) return false;
    }
    if (vendor.size() != kIdDigits || !IsHex(vendor)) return false;
    s->vendorId = Lower(vendor);
    if (product == "*") return true;  // every product of the maker
    if (product.size() != kIdDigits || !IsHex(product)) return false;
    s->productId = Lower(product);
    return true;
}

bool ParseAddress(std::string_view rest, Selector* s) {
    std::size_t bytes = 0;
    for (std::size_t at = 0;; at += 3) {
        const std::string_view pair = rest.substr(at, 2);
        if (pair.size() != 2 || !IsHex(pair)) return false;
        ++bytes;
        if (at + 2 == rest.size()) break;
        if (rest[at + 2] != ':') return false;
    }
    if (bytes != kAddressBytes) return false;
    s->address = Upper(rest);
    return true;
}

}  // namespace

std::optional<Selector> ParseSelector(std::string_view text, std::string* error) {
    error->clear();
    Selector s;
    s.text = std::string(text);
    const std::string lower = Lower(text.substr(0, kUsb.size()));
    if (lower.rfind(kUsb, 0) == 0) {
        s.kind = Selector::Kind::Usb;
        if (ParseUsb(text.substr(kUsb.size()), &s)) return s;
        *error = "selector \"" + s.text +
                 "\" is not usb:VVVV:PPPP, usb:VVVV:PPPP:SERIAL or usb:VVVV:* (four hex digits each)";
        return std::nullopt;
    }
    if (lower.rfind(kBluetooth, 0) == 0) {
        s.kind = Selector::Kind::Bluetooth;
        if (ParseAddress(text.substr(kBluetooth.size()), &s)) return s;
        *error = "selector \"" + s.text + "\" is not bt:AA:BB:CC:DD:EE:FF";
        return std::nullopt;
    }
    // A network port's IPv6 address stands in brackets: no glob.
    if (LooksLikeTcp(text)) return std::nullopt;
    if (IsGlob(text)) return s;
    return std::nullopt;
}

bool Matches(const Selector& s, const PortInfo& port) {
    const PortIdentity& id = port.identity;
    switch (s.kind) {
        case Selector::Kind::Usb:
            return Lower(id.vendorId) == s.vendorId && (s.productId.empty() || Lower(id.productId) == s.productId) &&
                   (s.serial.empty() || id.serial == s.serial);
        case Selector::Kind::Bluetooth: return port.kind == PortClass::Bluetooth && Upper(id.btAddress) == s.address;
        case Selector::Kind::Glob:
            return GlobMatch(s.text, port.name) || (!id.byId.empty() && GlobMatch(s.text, id.byId));
        case Selector::Kind::Named: return port.name == s.text;
    }
    return false;
}

}  // namespace morvane::cli
