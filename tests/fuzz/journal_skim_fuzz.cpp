// The journal's quick reader against any line: it never reads past the
// line, and it agrees with the JSON parser on every line that is a valid
// object: it takes it, with the same top-level keys in the same order.
#include <nlohmann/json.hpp>

#include "cli/journal/journal_skim.h"
#include "fuzz_check.h"

using namespace morvane::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    SkimmedFields fields;
    const bool skimmed = SkimObject(line, &fields);
    for (const auto& [key, raw] : fields) {
        FUZZ_CHECK(key.data() >= line.data() && key.data() + key.size() <= line.data() + line.size());
        FUZZ_CHECK(raw.data() >= line.data() && raw.data() + raw.size() <= line.data() + line.size());
        std::string text;
        long long number = 0;
        SkimmedString(raw, &text);
        SkimmedNumber(raw, &number);
    }
    // The parser stops at a zero byte; a journal's lines hold none.
    if (line.find('\0') != std::string_view::npos) return 0;
    const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(line, nullptr, false);
    if (parsed.is_object()) {
        FUZZ_CHECK(skimmed);
        std::vector<std::string> keys;
        for (const auto& [key, raw] : fields) {
            std::string decoded;
            FUZZ_CHECK(SkimmedString("\"" + std::string(key) + "\"", &decoded));
            keys.push_back(decoded);
        }
        // The parser keeps the first place of a repeated key.
        std::vector<std::string> expected;
        for (const auto& item : parsed.items()) expected.push_back(item.key());
        std::vector<std::string> unique;
        for (const std::string& k : keys)
            if (std::find(unique.begin(), unique.end(), k) == unique.end()) unique.push_back(k);
        FUZZ_CHECK(unique == expected);
    }
    return 0;
}
