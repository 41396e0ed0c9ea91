// Profile files: one "key = value" a line, "#" starts a comment outside
// quotes, blank lines are skipped, a value in double or single quotes keeps
// its blanks (and any "#"). A key may stand only once.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace morvane::cli {

struct ProfileEntry {
    int line = 0;  // 1-based
    std::string key;
    std::string value;
};

struct ProfileError {
    int line = 0;
    std::string message;
};

// False at the first bad line, with the line and what is wrong with it.
bool ParseProfile(std::string_view text, std::vector<ProfileEntry>* entries, ProfileError* error);

}  // namespace morvane::cli
