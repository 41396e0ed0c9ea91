#include "cli/text/input.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace morvane::cli {

namespace {

// At most one byte more than allowed, so that too much is seen at once; in
// pieces, so that a short profile touches no more memory than it needs.
bool ReadBounded(std::istream& in, const std::string& name, std::string* text, std::string* error) {
    constexpr std::size_t kPiece = 16 * 1024;
    text->clear();
    while (in && text->size() <= kMaxProfileBytes) {
        const std::size_t had = text->size();
        text->resize(had + std::min(kPiece, kMaxProfileBytes + 1 - had));
        in.read(text->data() + had, static_cast<std::streamsize>(text->size() - had));
        text->resize(had + static_cast<std::size_t>(in.gcount()));
    }
    if (text->size() > kMaxProfileBytes) {
        *error = name + ": larger than 1 MiB; a profile is a short text file";
        return false;
    }
    if (in.bad()) {
        *error = "cannot read " + name;
        return false;
    }
    return true;
}

}  // namespace

bool ReadProfileText(const std::string& name, std::istream& standardInput, std::string* text, std::string* error) {
    if (name == "-") return ReadBounded(standardInput, "standard input", text, error);
    const std::filesystem::path path(std::u8string(name.begin(), name.end()));
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        *error = "cannot read " + name + ": no such file";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *error = name + " is not a regular file; a profile is a text file (or - for standard input)";
        return false;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxProfileBytes) {
        *error = name + ": larger than 1 MiB; a profile is a short text file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + name;
        return false;
    }
    return ReadBounded(in, name, text, error);
}

}  // namespace morvane::cli
