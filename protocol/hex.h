// Bytes as hex text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// As the tools and logs show them: "1D 46 7C 04".
std::string HexBytes(const std::uint8_t* bytes, std::size_t size);
// As one word, for line protocols: "1D467C04".
std::string HexDigits(std::string_view bytes);
// The bytes of HexDigits' text, in either case; nothing for an odd count
// or a character that is not a hex digit.
std::optional<std::string> ParseHexDigits(std::string_view text);

}  // namespace morvane
