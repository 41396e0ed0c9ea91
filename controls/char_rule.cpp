#include "controls/char_rule.h"

namespace morvane {

bool AcceptsChar(unsigned code, bool allowMinus, std::string_view currentText) {
    if ((code >= '0' && code <= '9') || code == kCharBackspace) return true;
    // One sign at most, wherever it stands (the caret decides where it lands).
    if (code == kCharMinus && allowMinus) return currentText.find('-') == std::string_view::npos;
    return false;
}

}  // namespace morvane
