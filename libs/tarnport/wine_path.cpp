#include "libs/tarnport/wine_path.h"

namespace tarnport {

std::string WinePathOf(std::string_view unixPath) {
    std::string out = "Z:";
    for (char c : unixPath) out += c == '/' ? '\\' : c;
    return out;
}

}  // namespace tarnport
