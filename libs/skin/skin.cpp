// SkinPlusPlusDLL: reads the program's skin file. The file is looked for
// beside the program's EXE, then in the current directory; only a bare file
// name is taken, so a skin can never be read from elsewhere.
//
// The skin format (a small INI):
//   line 1        "SkinPlusPlus Skin 1"
//   [Colors]      Name=RRGGBB, six hexadecimal digits, at least one entry
//   [Info]        free key=value text (name, author)
//   ; or #        comment lines; blank lines allowed
// InitializeSkin returns 1 when the file was found, read and well formed,
// 0 otherwise. It never throws and never stops the program.
#include "libs/skin/skin.h"
#include "libs/skin/skin_parse.h"

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "libs/common/guarded.h"
#include "libs/common/scoped_handle.h"

namespace {

constexpr DWORD kMaxSkinBytes = 64 * 1024;

bool IsBareName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("\\/:") == std::string_view::npos;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> ReadFileText(const std::string& path) {
    const morvane::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::optional<std::string> text;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    if (size != INVALID_FILE_SIZE && size <= kMaxSkinBytes) {
        std::string data(size, '\0');
        DWORD got = 0;
        if (ReadFile(file.Get(), data.data(), size, &got, nullptr) && got == size) text = std::move(data);
    }
    return text;
}

// The colours of the skin last read, kept for the window look.
std::map<std::string, COLORREF>& SkinColours() {
    static std::map<std::string, COLORREF> colours;
    return colours;
}

std::optional<std::string> FindAndRead(const std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length != 0 && length < sizeof path) {
        if (auto text = ReadFileText(DirectoryOf(std::string(path, length)) + name)) return text;
    }
    const DWORD cwdLength = GetCurrentDirectoryA(sizeof path, path);
    if (cwdLength != 0 && cwdLength < sizeof path) {
        std::string dir(path, cwdLength);
        if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
        if (auto text = ReadFileText(dir + name)) return text;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int WINAPI InitializeSkin(const char* skinFileName) {
    return morvane::Guarded(0, [&] {
        if (skinFileName == nullptr || !IsBareName(skinFileName)) return 0;
        const auto text = FindAndRead(skinFileName);
        if (!text) return 0;
        auto colours = skin::ParseSkin(*text);
        if (!colours) return 0;
        SkinColours().clear();
        for (const auto& [name, rgb] : *colours) SkinColours()[name] = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        return 1;
    });
}
