// UTF-8 checks for the command's texts and output.
#include "cli/text/codepage.h"

#include <cstdint>

namespace morvane::cli {

namespace {

// Length of the well-formed sequence at text[at], or 0 (RFC 3629: no
// overlong forms, no surrogates, nothing past U+10FFFF).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t b0 = byte(at);
    if (b0 < 0x80) return 1;
    std::size_t n = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        n = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + n > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return n;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceLength(text, at);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string SanitizeUtf8(std::string_view text) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceLength(text, at);
        if (n == 0) {
            out += kReplacement;
            ++at;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out;
}

}  // namespace morvane::cli
