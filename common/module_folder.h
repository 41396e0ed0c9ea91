// Where a module's own files live. Wide, so that a folder named outside the
// ANSI code page is found as it is, and with no length limit of its own.
#pragma once
#include <windows.h>

#include <string>

namespace morvane {

// The folder of `module` (null: the program) with its trailing backslash;
// empty when the system cannot tell it. Callers then read nothing: never a
// file of the same name from the current directory.
inline std::wstring ModuleFolder(HMODULE module) {
    constexpr std::size_t kLongestPath = 32768;  // the system's own limit
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= kLongestPath) return {};
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    path.resize(slash + 1);
    return path;
}

}  // namespace morvane
