// Text encodings on Windows: any installed code page by number; the
// system's ANSI code page by default, as the dialog uses.
#include "cli/text/codepage.h"

#include <windows.h>

#include <cctype>

namespace morvane::cli {

namespace {

std::wstring Widen(unsigned page, std::string_view bytes, DWORD flags) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

}  // namespace

bool ResolveCodePage(std::string_view name, CodePage* page, std::string* error) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string_view digits = lower;
    if (digits.rfind("cp", 0) == 0) digits.remove_prefix(2);
    if (lower == "utf-8" || lower == "utf8") digits = "65001";
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        *error = "unknown code page \"" + std::string(name) + "\" (give its number, such as 936 or 1252, or utf-8)";
        return false;
    }
    const unsigned number = static_cast<unsigned>(std::stoul(std::string(digits)));
    if (!IsValidCodePage(number)) {
        *error = "code page " + std::to_string(number) + " is not installed";
        return false;
    }
    *page = {number == CP_UTF8 ? "utf-8" : std::to_string(number), number};
    return true;
}

CodePage DefaultCodePage() {
    const unsigned acp = GetACP();
    return {acp == CP_UTF8 ? "utf-8" : std::to_string(acp), acp};
}

bool EncodeText(const CodePage& page, std::string_view utf8, std::string* bytes) {
    bytes->clear();
    if (!IsValidUtf8(utf8)) return false;
    if (page.IsUtf8()) {
        bytes->assign(utf8);
        return true;
    }
    const std::wstring wide = Widen(CP_UTF8, utf8, MB_ERR_INVALID_CHARS);
    if (wide.empty()) return utf8.empty();
    // No best-fit look-alikes ("Ł" as "L"): a character the page lacks is
    // refused, and the round trip proves the text comes back as it went.
    const unsigned n0 = page.number;
    const bool plainFlags =
        n0 == 42 || n0 == 54936 || n0 == 65000 || (n0 >= 50220 && n0 <= 50229) || (n0 >= 57002 && n0 <= 57011);
    const DWORD flags = plainFlags ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(page.number, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return false;
    bytes->resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(page.number, flags, wide.data(), static_cast<int>(wide.size()), bytes->data(), n, nullptr,
                        nullptr);
    return Widen(page.number, *bytes, 0) == wide;
}

std::string DecodeText(const CodePage& page, std::string_view bytes) {
    if (page.IsUtf8()) return SanitizeUtf8(bytes);
    const std::wstring wide = Widen(page.number, bytes, 0);
    if (wide.empty()) return SanitizeUtf8(bytes);
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return SanitizeUtf8(out);
}

}  // namespace morvane::cli
