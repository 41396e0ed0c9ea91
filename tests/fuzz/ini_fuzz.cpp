// TarnPort.ini parsing. Input: the file's text. Checks what every reading
// of the file must keep: keys upper case and unique, values trimmed and not
// empty, the same entries with a byte-order mark in front, with CRLF line
// ends, and with an unreadable line put in front of any line.
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "libs/tarnport/ini_parse.h"

using tarnport::ParsePortsSection;

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string WithCrlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto entries = ParsePortsSection(text);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [key, value] = entries[i];
        FUZZ_CHECK(!key.empty() && !value.empty());
        FUZZ_CHECK(!Blank(key.front()) && !Blank(key.back()));
        FUZZ_CHECK(key.find_first_of("\n=") == std::string::npos);
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        for (char c : key) FUZZ_CHECK(!(c >= 'a' && c <= 'z'));
        for (std::size_t j = i + 1; j < entries.size(); ++j) FUZZ_CHECK(entries[j].first != key);
    }
    const bool marked = text.rfind("\xEF\xBB\xBF", 0) == 0;
    if (!marked) FUZZ_CHECK(ParsePortsSection("\xEF\xBB\xBF" + text) == entries);
    // A line already ending in CR would end in CR CR; trimming still treats them alike.
    FUZZ_CHECK(ParsePortsSection(WithCrlf(text)) == entries);
    // An unreadable line changes nothing, wherever it stands.
    if (!marked && size > 0) {
        const std::size_t at = data[0] % (size + 1);
        const std::size_t lineStart = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t cut = (lineStart == std::string::npos || at == 0) ? 0 : lineStart + 1;
        for (const char* junk : {"[Ports\n", "no equals\n", "=x\n", "[\n"}) {
            const std::string mixed = text.substr(0, cut) + junk + text.substr(cut);
            FUZZ_CHECK(ParsePortsSection(mixed) == entries);
        }
    }
    return 0;
}
