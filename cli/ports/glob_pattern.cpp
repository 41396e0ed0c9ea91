#include "cli/ports/glob_pattern.h"

#include <cstddef>

namespace morvane::cli {

namespace {

// [abc], [a-z], [!x]: `at` stands after the '['; false when not closed.
bool SetMatches(std::string_view pattern, std::size_t* at, char c, bool* matched) {
    std::size_t i = *at;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    bool in = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            in = in || (c >= pattern[i] && c <= pattern[i + 2]);
            i += 3;
        } else {
            in = in || c == pattern[i];
            ++i;
        }
    }
    if (i >= pattern.size()) return false;
    *at = i + 1;
    *matched = in != negated;
    return true;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
    // Iterative, with one point to come back to for the last '*': linear
    // enough for port names, and no recursion on hostile patterns.
    std::size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        bool step = false;
        if (p < pattern.size()) {
            if (pattern[p] == '*') {
                starP = p++;
                starT = t;
                continue;
            }
            if (pattern[p] == '?') {
                step = true;
                ++p;
            } else if (pattern[p] == '[') {
                std::size_t after = p + 1;
                bool matched = false;
                if (SetMatches(pattern, &after, text[t], &matched)) {
                    if (matched) {
                        step = true;
                        p = after;
                    }
                } else if (text[t] == '[') {
                    step = true;  // an unclosed '[' is itself
                    ++p;
                }
            } else if (pattern[p] == text[t]) {
                step = true;
                ++p;
            }
        }
        if (step) {
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsGlob(std::string_view text) { return text.find_first_of("*?[") != std::string_view::npos; }

}  // namespace morvane::cli
