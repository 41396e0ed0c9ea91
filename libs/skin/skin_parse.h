// The skin file's format (a small INI):
//   line 1        "SkinPlusPlus Skin 1"
//   [Colors]      Name=RRGGBB, six hexadecimal digits, at least one entry
//   [Info]        free key=value text (name, author)
//   ; or #        comment lines; blank lines allowed
// A UTF-8 byte-order mark in front of the first line is allowed.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace skin {

// Colours by name as 0xRRGGBB; nullopt when the text is not a skin.
std::optional<std::map<std::string, std::uint32_t>> ParseSkin(std::string_view text);

}  // namespace skin
