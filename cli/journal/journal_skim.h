// Reading a long journal quickly: the top-level fields of a record on one
// line, found in one pass without building the object. Only what the
// journal's reader needs is decoded; a line the skim cannot take whole is
// left to the full JSON parser to judge.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::cli {

// Each field's key as written (without its quotes) and its value's raw text.
using SkimmedFields = std::vector<std::pair<std::string_view, std::string_view>>;

// False unless `line` is one whole object (blanks around it allowed).
bool SkimObject(std::string_view line, SkimmedFields* fields);

// False unless `raw` is one whole array; its elements' raw texts.
bool SkimArray(std::string_view raw, std::vector<std::string_view>* elements);

// A raw value read as a string or a whole number; false when it is not one.
bool SkimmedString(std::string_view raw, std::string* text);
bool SkimmedNumber(std::string_view raw, long long* number);

}  // namespace morvane::cli
