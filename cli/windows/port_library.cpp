#include "cli/windows/port_library.h"

#include <windows.h>

#include <vector>

#include "cli/windows/system_error.h"

namespace morvane::cli {

namespace {

constexpr wchar_t kLibraryName[] = L"TarnPortDll.dll";

// The folder of this program, with a trailing backslash.
std::wstring ProgramFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            std::wstring full(path.data(), n);
            return full.substr(0, full.find_last_of(L"\\/") + 1);
        }
        path.resize(path.size() * 2);
    }
}

template <typename T>
bool Resolve(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

struct Loaded {
    PortLibraryCalls calls{};
    bool ok = false;
    std::string error;
};

Loaded Load() {
    Loaded l;
    const std::wstring folder = ProgramFolder();
    if (folder.empty()) {
        l.error = "cannot find the program's folder";
        return l;
    }
    const std::wstring path = folder + kLibraryName;
    // A full path and altered search order: the library's own imports come
    // from its folder and the system, never from the current directory.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        l.error = "TarnPortDll.dll cannot be loaded from the program's folder: " + SystemMessage(GetLastError());
        return l;
    }
    PortLibraryCalls& c = l.calls;
    l.ok = Resolve(module, "GetUSBPort", &c.GetUSBPort) && Resolve(module, "GetLPTMax", &c.GetLPTMax) &&
           Resolve(module, "ClosePort", &c.ClosePort) && Resolve(module, "SetComParam", &c.SetComParam) &&
           Resolve(module, "SendData", &c.SendData) && Resolve(module, "ReadData", &c.ReadData);
    if (!l.ok) l.error = "TarnPortDll.dll lacks one of its functions";
    return l;
}

}  // namespace

const PortLibraryCalls* PortLibrary(std::string* error) {
    static const Loaded loaded = Load();  // once, whichever thread comes first
    if (!loaded.ok) {
        *error = loaded.error;
        return nullptr;
    }
    return &loaded.calls;
}

}  // namespace morvane::cli
