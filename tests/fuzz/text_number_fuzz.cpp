// Text-to-number conversion of any bytes, checked against sscanf("%d") for
// the reading step.
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "protocol/text_number.h"

using namespace morvane;

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::int32_t Expected(std::string text) {
    while (!text.empty() && IsSpace(text.front())) text.erase(0, 1);
    while (!text.empty() && IsSpace(text.back())) text.pop_back();
    const std::size_t zeros = text.find_first_not_of('0');
    text.erase(0, zeros == std::string::npos ? text.size() : zeros);
    text = text.substr(0, 6);  // an embedded zero byte ends the text for sscanf too
    int value = 0;
    if (text.empty() || std::sscanf(text.c_str(), "%d", &value) != 1) return 0;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::int32_t got = TextToNumber(text);
    FUZZ_CHECK(got >= -99999 && got <= 999999);
    FUZZ_CHECK(got == Expected(text));
    return 0;
}
