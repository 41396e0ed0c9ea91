// Port names as shell patterns: * any run, ? one character, [abc] [a-z]
// [!x] a set.
#pragma once
#include <string_view>

namespace morvane::cli {

bool GlobMatch(std::string_view pattern, std::string_view text);
// Whether a port's text is a pattern for many ports rather than one name.
bool IsGlob(std::string_view text);

}  // namespace morvane::cli
