// The two reply forms a printer answers with.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

constexpr std::uint8_t kStatusFailure = 0xFF;
constexpr std::uint8_t kSerialReplyPrefix = 0x11;  // extra leading byte some printers send on COM
constexpr std::size_t kValueAreaSize = 40;         // 39 text bytes and a terminating zero
constexpr std::size_t kMaxValueBytes = kValueAreaSize - 1;

enum class StatusReply { NoAnswer, Failure, Success };

// A status reply is exactly 4 bytes; byte 3 0xFF means failure.
// `count` is what the read returned (may be <= 0); `buf` holds bufSize bytes.
StatusReply ParseStatusReply(const std::uint8_t* buf, std::size_t bufSize, int count);

// A value reply has at least 4 bytes: length at byte 3 (byte 4 after a 0x11
// prefix, honoured only on a serial port), text after it, ending after the
// length or at the first zero byte. Returns nothing for 3 bytes or fewer.
// Never copies more than 39 bytes, nor bytes beyond `count` or `bufSize`.
std::optional<std::string> ParseValueReply(const std::uint8_t* buf, std::size_t bufSize, int count, bool serialPort);

}  // namespace morvane
