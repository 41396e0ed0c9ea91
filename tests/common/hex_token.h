// Bytes as one word of the tests' line protocols (the dialog driver's and
// the pty peer's): hex digits, "-" for none.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "protocol/hex.h"

namespace morvane::test {

inline std::string HexToken(std::string_view bytes) { return bytes.empty() ? "-" : HexDigits(bytes); }

inline std::optional<std::string> ParseHexToken(std::string_view token) {
    if (token == "-") return std::string();
    return ParseHexDigits(token);
}

}  // namespace morvane::test
