#include "protocol/text_number.h"

namespace morvane {

namespace {

constexpr std::size_t kKeptCharacters = 6;

// The C locale's white space, tested without isspace() so that bytes of a
// double-byte code page never reach a <cctype> call as negative values.
bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads like sscanf("%d"): white space, an optional sign, then digits.
// Six characters at most arrive here, so the value cannot overflow.
std::int32_t ReadDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int32_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

}  // namespace

std::int32_t TextToNumber(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
    // Zeros go before the cut, so "0000012345" keeps all its digits.
    while (!text.empty() && text.front() == '0') text.remove_prefix(1);
    return ReadDecimal(text.substr(0, kKeptCharacters));
}

}  // namespace morvane
