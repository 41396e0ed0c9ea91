// Small text helpers the port library's parsers share.
#pragma once
#include <string>
#include <string_view>

namespace tarnport {

std::string Upper(std::string_view text);
// Without leading and trailing blanks, tabs and line ends.
std::string_view Trim(std::string_view text);

}  // namespace tarnport
