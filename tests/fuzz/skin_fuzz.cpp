// Skin-file parsing. Input: the file's text. The result must not change
// with a byte-order mark in front, with CRLF line ends, or with a comment
// line added after the header; every colour is 24-bit; a skin stays a skin
// when a colour is added to a [Colors] section at its end.
#include <string>

#include "fuzz_check.h"
#include "libs/skin/skin_parse.h"

using skin::ParseSkin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto colours = ParseSkin(text);
    if (colours) {
        FUZZ_CHECK(!colours->empty());
        for (const auto& [name, rgb] : *colours) FUZZ_CHECK(!name.empty() && rgb <= 0xFFFFFF);
        const auto more = ParseSkin(text + "\n[Colors]\nFuzzExtra=0A0B0C\n");
        FUZZ_CHECK(more && more->at("FuzzExtra") == 0x0A0B0C && more->size() >= colours->size());
    }
    if (text.rfind("\xEF\xBB\xBF", 0) != 0) FUZZ_CHECK(ParseSkin("\xEF\xBB\xBF" + text) == colours);
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    FUZZ_CHECK(ParseSkin(crlf) == colours);
    const std::size_t firstLine = text.find('\n');
    if (firstLine != std::string::npos) {
        const std::string commented = text.substr(0, firstLine + 1) + "; fuzz\n" + text.substr(firstLine + 1);
        FUZZ_CHECK(ParseSkin(commented) == colours);
    }
    return 0;
}
