#include "cli/windows/system_error.h"

#include "cli/windows/utf16.h"

namespace morvane::cli {

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8 = n > 0 && text != nullptr ? Utf8(std::wstring_view(text, n)) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) utf8.pop_back();
    std::string number = "error ";
    number += std::to_string(code);
    if (utf8.empty()) return number;
    utf8.append(" (").append(number).append(")");
    return utf8;
}

}  // namespace morvane::cli
