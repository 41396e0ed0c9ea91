#include "cli/journal/journal_skim.h"

#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>

namespace morvane::cli {

namespace {

// Bytes that mean nothing to the shape of a nested value.
struct PlainBytes {
    bool table[256];
    constexpr PlainBytes() : table() {
        for (int c = 0; c < 256; ++c) table[c] = c != '"' && c != '{' && c != '[' && c != '}' && c != ']';
    }
    constexpr bool operator[](unsigned char c) const { return table[c]; }
};
constexpr PlainBytes kPlain;

// JSON's own blanks.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Skimmer {
public:
    explicit Skimmer(std::string_view text) : s_(text) {}

    bool Object(SkimmedFields* fields) {
        Blanks();
        if (!Take('{')) return false;
        Blanks();
        if (Take('}')) return End();
        for (;;) {
            const std::size_t keyAt = at_;
            if (!String()) return false;
            const std::string_view key = s_.substr(keyAt + 1, at_ - keyAt - 2);
            Blanks();
            if (!Take(':')) return false;
            Blanks();
            const std::size_t valueAt = at_;
            if (!Value()) return false;
            if (fields != nullptr) fields->emplace_back(key, s_.substr(valueAt, at_ - valueAt));
            Blanks();
            if (Take(',')) {
                Blanks();
                continue;
            }
            return Take('}') && End();
        }
    }

    bool Array(std::vector<std::string_view>* elements) {
        Blanks();
        if (!Take('[')) return false;
        Blanks();
        if (Take(']')) return End();
        for (;;) {
            const std::size_t from = at_;
            if (!Value()) return false;
            elements->push_back(s_.substr(from, at_ - from));
            Blanks();
            if (Take(',')) {
                Blanks();
                continue;
            }
            return Take(']') && End();
        }
    }

private:
    bool End() {
        Blanks();
        return at_ == s_.size();
    }
    void Blanks() {
        while (at_ < s_.size() && IsBlank(s_[at_])) ++at_;
    }
    bool Take(char c) {
        if (at_ >= s_.size() || s_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool String() {
        if (!Take('"')) return false;
        for (;;) {
            const void* quote = std::memchr(s_.data() + at_, '"', s_.size() - at_);
            if (quote == nullptr) return false;
            const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(quote) - s_.data());
            // Escaped when an odd run of backslashes stands before it.
            std::size_t slashes = 0;
            while (end - slashes > at_ && s_[end - slashes - 1] == '\\') ++slashes;
            at_ = end + 1;
            if (slashes % 2 == 0) return true;
        }
    }
    // A nested object or array is passed over by its brackets; the full
    // parser judges it if it is ever read.
    bool Value() {
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '"') return String();
        if (c != '{' && c != '[') {
            const std::size_t from = at_;
            while (at_ < s_.size() && s_[at_] != ',' && s_[at_] != '}' && s_[at_] != ']' && !IsBlank(s_[at_])) ++at_;
            return at_ > from;
        }
        int depth = 0;
        const char* const data = s_.data();
        while (at_ < s_.size()) {
            const auto d = static_cast<unsigned char>(data[at_]);
            if (kPlain[d]) {
                ++at_;
                continue;
            }
            if (d == '"') {
                if (!String()) return false;
                continue;
            }
            ++at_;
            if (d == '{' || d == '[') ++depth;
            if ((d == '}' || d == ']') && --depth == 0) return true;
        }
        return false;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

}  // namespace

bool SkimObject(std::string_view line, SkimmedFields* fields) { return Skimmer(line).Object(fields); }

bool SkimArray(std::string_view raw, std::vector<std::string_view>* elements) { return Skimmer(raw).Array(elements); }

bool SkimmedString(std::string_view raw, std::string* text) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return false;
    if (raw.find('\\') == std::string_view::npos) {
        text->assign(raw.substr(1, raw.size() - 2));
        return true;
    }
    const nlohmann::json value = nlohmann::json::parse(raw, nullptr, false);
    if (!value.is_string()) return false;
    *text = value.get<std::string>();
    return true;
}

bool SkimmedNumber(std::string_view raw, long long* number) {
    const auto [end, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), *number);
    return ec == std::errc() && end == raw.data() + raw.size();
}

}  // namespace morvane::cli
