#include "cli/ports/instance_id.h"

#include <cctype>
#include <vector>

namespace morvane::cli {

namespace {

constexpr std::size_t kIdDigits = 4;
constexpr std::size_t kAddressDigits = 12;

std::vector<std::string_view> Split(std::string_view text, char by) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = text.find(by, at);
        parts.push_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos) return parts;
        at = next + 1;
    }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool IsHex(std::string_view text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "VID_0416" -> "0416"
bool TakeId(std::string_view field, std::string_view name, std::string* id) {
    if (!StartsWithIgnoringCase(field, name) || field.size() != name.size() + kIdDigits) return false;
    const std::string_view digits = field.substr(name.size());
    if (!IsHex(digits)) return false;
    *id = Lower(digits);
    return true;
}

}  // namespace

void AddInstanceIdentity(std::string_view instanceId, PortIdentity* id) {
    const std::vector<std::string_view> parts = Split(instanceId, '\\');
    if (parts.size() < 3) return;
    if (StartsWithIgnoringCase(parts[0], "BTHENUM")) {
        // The peer's address ends the last field: "..._001BDC0F1122_C00000000".
        const std::string_view last = parts.back();
        const std::size_t end = last.rfind('_');
        const std::size_t amp = last.rfind('&', end);
        if (end == std::string_view::npos || amp == std::string_view::npos) return;
        const std::string_view hex = last.substr(amp + 1, end - amp - 1);
        if (hex.size() != kAddressDigits || !IsHex(hex) || hex == "000000000000") return;
        char address[3 * kAddressDigits / 2] = {};  // "00:1B:DC:0F:11:22" and its zero
        for (std::size_t i = 0, at = 0; i < kAddressDigits; i += 2) {
            if (at != 0) address[at++] = ':';
            address[at++] = static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
            address[at++] = static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
        }
        id->btAddress = address;
        return;
    }
    // USB\VID_xxxx&PID_xxxx[&MI_xx]\serial, or FTDIBUS\VID_xxxx+PID_xxxx+serial\port.
    const bool ftdi = StartsWithIgnoringCase(parts[0], "FTDIBUS");
    const std::vector<std::string_view> fields = Split(parts[1], ftdi ? '+' : '&');
    std::string vendorId, productId;
    bool vendor = false, product = false;
    for (std::string_view f : fields) {
        vendor = vendor || TakeId(f, "VID_", &vendorId);
        product = product || TakeId(f, "PID_", &productId);
    }
    if (!vendor || !product) return;
    id->vendorId = vendorId;
    id->productId = productId;
    const std::string_view serial = ftdi ? (fields.size() >= 3 ? fields[2] : std::string_view()) : parts[2];
    const bool madeUp = serial.find('&') != std::string_view::npos;
    const bool interface = !ftdi && parts[1].find("MI_") != std::string_view::npos;
    if (!serial.empty() && !madeUp && !interface) id->serial = std::string(serial);
}

}  // namespace morvane::cli
