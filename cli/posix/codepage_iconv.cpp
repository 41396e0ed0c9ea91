// Text encodings on POSIX, through iconv. UTF-8 is the default: the bytes
// typed are the bytes sent.
#include <iconv.h>

#include <cerrno>
#include <cctype>
#include <memory>

#include "cli/text/codepage.h"

namespace morvane::cli {

namespace {

constexpr unsigned kUtf8 = 65001;

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

Converter Open(const std::string& to, const std::string& from) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    return Converter(cd);
}

// iconv's name for a code page: "936" -> "CP936".
std::string IconvName(const CodePage& page) {
    if (page.IsUtf8()) return "UTF-8";
    if (page.number != 0) return "CP" + std::to_string(page.number);
    return page.name;
}

// Converts all of `in`; on a byte that does not convert, `onBad` decides:
// true skips it (having appended a stand-in), false gives up.
template <typename OnBad>
bool Convert(iconv_t cd, std::string_view in, std::string* out, OnBad onBad) {
    out->clear();
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out->append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (!onBad(out)) return false;
        ++src;
        --srcLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out->append(buffer, static_cast<std::size_t>(dst - buffer));
    return true;
}

}  // namespace

bool ResolveCodePage(std::string_view name, CodePage* page, std::string* error) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    CodePage p;
    p.name = std::string(name);
    std::string_view digits = lower;
    if (digits.rfind("cp", 0) == 0) digits.remove_prefix(2);
    if (lower == "utf-8" || lower == "utf8" || digits == "65001") {
        *page = {"utf-8", kUtf8};
        return true;
    }
    if (!digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string_view::npos)
        p.number = static_cast<unsigned>(std::stoul(std::string(digits)));
    if (!Open("UTF-8", IconvName(p)) || !Open(IconvName(p), "UTF-8")) {
        *error = "unknown code page \"" + std::string(name) + "\"";
        return false;
    }
    *page = p;
    return true;
}

CodePage DefaultCodePage() { return {"utf-8", kUtf8}; }

bool EncodeText(const CodePage& page, std::string_view utf8, std::string* bytes) {
    if (!IsValidUtf8(utf8)) return false;
    if (page.IsUtf8()) {
        bytes->assign(utf8);
        return true;
    }
    const Converter cd = Open(IconvName(page), "UTF-8");
    if (!cd) return false;
    return Convert(static_cast<iconv_t>(cd.get()), utf8, bytes, [](std::string*) { return false; });
}

std::string DecodeText(const CodePage& page, std::string_view bytes) {
    if (page.IsUtf8()) return SanitizeUtf8(bytes);
    const Converter cd = Open("UTF-8", IconvName(page));
    std::string out;
    if (!cd) return SanitizeUtf8(bytes);
    Convert(static_cast<iconv_t>(cd.get()), bytes, &out, [](std::string* o) {
        *o += "\xEF\xBF\xBD";
        return true;
    });
    return SanitizeUtf8(out);
}

}  // namespace morvane::cli
