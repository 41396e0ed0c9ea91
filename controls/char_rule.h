// Which typed characters the numeric edit control lets through.
#pragma once
#include <string_view>

namespace morvane {

constexpr unsigned kCharBackspace = 8;
constexpr unsigned kCharMinus = 45;

// Digits and backspace always pass; a minus sign passes when the owner allows
// one and the text holds none yet; everything else is dropped.
bool AcceptsChar(unsigned code, bool allowMinus, std::string_view currentText);

}  // namespace morvane
