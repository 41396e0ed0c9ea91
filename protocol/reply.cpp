#include "protocol/reply.h"

#include <algorithm>

namespace morvane {

namespace {
constexpr std::size_t kStatusReplyLength = 4;
constexpr std::size_t kLengthIndex = 3;
}  // namespace

StatusReply ParseStatusReply(const std::uint8_t* buf, std::size_t bufSize, int count) {
    if (count != static_cast<int>(kStatusReplyLength) || bufSize < kStatusReplyLength) return StatusReply::NoAnswer;
    return buf[kLengthIndex] == kStatusFailure ? StatusReply::Failure : StatusReply::Success;
}

std::optional<std::string> ParseValueReply(const std::uint8_t* buf, std::size_t bufSize, int count, bool serialPort) {
    if (count <= static_cast<int>(kLengthIndex)) return std::nullopt;
    // Only bytes that both arrived and lie inside the buffer are ever looked at.
    const std::size_t received = std::min(static_cast<std::size_t>(count), bufSize);
    const bool prefixed = serialPort && received > 0 && buf[0] == kSerialReplyPrefix;
    const std::size_t lengthAt = prefixed ? kLengthIndex + 1 : kLengthIndex;
    if (lengthAt >= received) return std::string();  // the length byte itself never came

    const std::size_t textAt = lengthAt + 1;
    const std::size_t wanted = std::min<std::size_t>(buf[lengthAt], kMaxValueBytes);
    const std::size_t available = std::min(wanted, received - textAt);
    const std::uint8_t* text = buf + textAt;
    const std::uint8_t* end = std::find(text, text + available, std::uint8_t{0});
    return std::string(text, end);
}

}  // namespace morvane
