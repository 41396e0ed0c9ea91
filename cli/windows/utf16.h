// Between the command's UTF-8 and the UTF-16 of Windows' W calls.
#pragma once
#include <string>
#include <string_view>

namespace morvane::cli {

std::wstring Utf16(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

}  // namespace morvane::cli
