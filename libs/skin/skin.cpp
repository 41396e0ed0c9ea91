// SkinPlusPlusDLL: checks the program's skin file. The file is read only
// from beside the program's EXE, and only a bare file name is taken, so a
// skin can never be read from elsewhere (not from the current directory
// either). Its format: skin_parse.h.
//
// InitializeSkin returns 1 when the file was found, read and well formed,
// 0 otherwise. It never throws and never stops the program. The program
// draws with the system's own look, so nothing of the skin is kept.
#include "libs/skin/skin.h"

#include <optional>
#include <string>
#include <string_view>

#include "common/guarded.h"
#include "common/module_folder.h"
#include "common/scoped_handle.h"
#include "libs/skin/skin_parse.h"

namespace {

constexpr DWORD kMaxSkinBytes = 64 * 1024;

bool IsBareName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("\\/:") == std::string_view::npos;
}

// The program's 8-bit name as the wide text the file system takes.
std::wstring Widen(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

std::optional<std::string> ReadFileText(const std::wstring& path) {
    const morvane::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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

}  // namespace

extern "C" int WINAPI InitializeSkin(const char* skinFileName) {
    return morvane::Guarded(0, [&] {
        if (skinFileName == nullptr || !IsBareName(skinFileName)) return 0;
        const std::wstring folder = morvane::ModuleFolder(nullptr);
        const std::wstring name = Widen(skinFileName);
        if (folder.empty() || name.empty()) return 0;
        const auto text = ReadFileText(folder + name);
        return text && skin::ParseSkin(*text) ? 1 : 0;
    });
}
