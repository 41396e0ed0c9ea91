// Frames and replies in hex for a person to read (--trace, --dry-run),
// with a pairing password's bytes masked: wherever 1D 46 77 L stands (the
// set frame, or a read's value reply), the L bytes after it show as "**".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane::cli {

std::string HexMaskingPasswords(const std::uint8_t* bytes, std::size_t size);

}  // namespace morvane::cli
