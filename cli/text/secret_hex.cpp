#include "cli/text/secret_hex.h"

#include <algorithm>
#include <vector>

#include "protocol/frames.h"
#include "protocol/hex.h"

namespace morvane::cli {

std::string HexMaskingPasswords(const std::uint8_t* bytes, std::size_t size) {
    std::vector<bool> secret(size, false);
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (bytes[i] != kFrameHeader0 || bytes[i + 1] != kFrameHeader1 || bytes[i + 2] != kCodePassword) continue;
        const std::size_t end = std::min(size, i + 4 + bytes[i + 3]);
        std::fill(secret.begin() + static_cast<std::ptrdiff_t>(i + 4),
                  secret.begin() + static_cast<std::ptrdiff_t>(end), true);
    }
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (!out.empty()) out += ' ';
        out += secret[i] ? "**" : HexBytes(bytes + i, 1);
    }
    return out;
}

}  // namespace morvane::cli
