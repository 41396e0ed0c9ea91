// The byte encoding of the texts a printer stores (name and password). The
// command works in UTF-8; texts are encoded on the way to the printer and
// decoded on the way back.
#pragma once
#include <string>
#include <string_view>

namespace morvane::cli {

struct CodePage {
    std::string name;     // as shown: "936", "1252", "utf-8"
    unsigned number = 0;  // Windows code-page number; 65001 for UTF-8
    bool IsUtf8() const { return number == 65001; }
};

// "936", "cp936", "1252", "utf-8", "utf8", "65001", and on POSIX any name
// iconv knows. False with a reason when the name means nothing here.
bool ResolveCodePage(std::string_view name, CodePage* page, std::string* error);
// Only a code page that keeps ASCII as single bytes can carry a printer's
// texts (the frames' length bytes count bytes, and the printer reads ASCII):
// not UTF-16, UTF-32, UTF-7 or EBCDIC. False with the reason when not.
bool CheckKeepsAscii(const CodePage& page, std::string* error);
// Windows: the system's ANSI code page, as the dialog uses. POSIX: UTF-8.
CodePage DefaultCodePage();

// False when the text has a character the code page cannot hold.
bool EncodeText(const CodePage& page, std::string_view utf8, std::string* bytes);
// Bytes that do not convert become U+FFFD: the result is always valid UTF-8.
std::string DecodeText(const CodePage& page, std::string_view bytes);

// UTF-8 helpers shared by both sides.
bool IsValidUtf8(std::string_view text);
std::string SanitizeUtf8(std::string_view text);  // invalid sequences -> U+FFFD

}  // namespace morvane::cli
