#pragma once
#include <cstdint>
#include <string_view>

namespace morvane {

// A control's text as a number: trim white space, drop leading "0"s, keep
// 6 characters, read like "%d"; 0 when nothing can be read.
std::int32_t TextToNumber(std::string_view text);

}  // namespace morvane
