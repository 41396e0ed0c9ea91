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

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "libs/common/scoped_handle.h"

namespace {

constexpr std::string_view kHeader = "SkinPlusPlus Skin 1";
constexpr DWORD kMaxSkinBytes = 64 * 1024;

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

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

bool IsColour(std::string_view value) {
    if (value.size() != 6) return false;
    for (char c : value) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// Colours by name; nullopt when the text is not a skin.
std::optional<std::map<std::string, COLORREF>> ParseSkin(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::map<std::string, COLORREF> colours;
    std::string section;
    bool headerSeen = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end < text.size() ? end + 1 : end);
        if (!headerSeen) {
            if (line != kHeader) return std::nullopt;
            headerSeen = true;
            continue;
        }
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return std::nullopt;
            section = std::string(Trim(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || section.empty()) return std::nullopt;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty()) return std::nullopt;
        if (section == "Colors") {
            if (!IsColour(value)) return std::nullopt;
            const unsigned long rgb = std::stoul(std::string(value), nullptr, 16);
            colours[std::string(key)] = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        }
    }
    if (!headerSeen || colours.empty()) return std::nullopt;
    return colours;
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
    try {
        if (skinFileName == nullptr || !IsBareName(skinFileName)) return 0;
        const auto text = FindAndRead(skinFileName);
        if (!text) return 0;
        auto colours = ParseSkin(*text);
        if (!colours) return 0;
        SkinColours() = std::move(*colours);
        return 1;
    } catch (...) {
        return 0;
    }
}
