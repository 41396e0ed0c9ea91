#include "cli/text/codepage.h"

namespace morvane::cli {

bool CheckKeepsAscii(const CodePage& page, std::string* error) {
    std::string ascii;
    for (char c = ' '; c <= '~'; ++c) ascii += c;
    std::string bytes;
    if (EncodeText(page, ascii, &bytes) && bytes == ascii && DecodeText(page, ascii) == ascii) return true;
    *error = "code page \"" + page.name +
             "\" does not keep ASCII as single bytes, which a printer's texts need (UTF-16 and UTF-32 cannot be used)";
    return false;
}

}  // namespace morvane::cli
