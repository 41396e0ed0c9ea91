#include "protocol/hex.h"

namespace morvane {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendByte(std::string& out, unsigned char byte) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string HexBytes(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    out.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0) out += ' ';
        AppendByte(out, bytes[i]);
    }
    return out;
}

std::string HexDigits(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) AppendByte(out, static_cast<unsigned char>(c));
    return out;
}

std::optional<std::string> ParseHexDigits(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = Nibble(text[i]), lo = Nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace morvane
