// The screen's page (its HTML, script and style), as built into the program.
#pragma once
#include <optional>
#include <string_view>

#include "cli/station/screen/screen_policy.h"

namespace morvane::cli {

struct PageFile {
    std::string_view body;
    const char* type;  // its Content-Type
};

// The page's file for a resource; nothing for State and Events, which the
// station's board gives.
std::optional<PageFile> PageFileOf(ScreenResource resource);

}  // namespace morvane::cli
