// Profile files as a technician (or a broken editor) may write them: the
// parser never reads out of bounds, and what it accepts is what a profile
// means.
#include <algorithm>
#include <set>
#include <string>

#include "cli/text/profile.h"
#include "fuzz_check.h"

using namespace morvane::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ProfileEntry> entries;
    ProfileError error;
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (!ParseProfile(text, &entries, &error)) {
        FUZZ_CHECK(error.line >= 1 && error.line <= lines);
        FUZZ_CHECK(!error.message.empty());
        return 0;
    }
    std::set<std::string> keys;
    int previous = 0;
    for (const ProfileEntry& e : entries) {
        FUZZ_CHECK(e.line > previous && e.line <= lines);
        previous = e.line;
        FUZZ_CHECK(!e.key.empty() && keys.insert(e.key).second);
        FUZZ_CHECK(e.key.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") ==
                   std::string::npos);
        FUZZ_CHECK(e.value.find('\n') == std::string::npos && e.value.find('\0') == std::string::npos);
    }
    return 0;
}
