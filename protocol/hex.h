// Bytes as the tools and logs show them: "1D 46 7C 04".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane {

std::string HexBytes(const std::uint8_t* bytes, std::size_t size);

}  // namespace morvane
