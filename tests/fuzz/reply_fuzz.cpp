// Reply parsing. Input: flags (bit 0: serial port), the count as a signed
// 16-bit little-endian number, then the reply buffer's exact contents, held
// in a buffer of exactly that size so any read past it is caught.
#include <algorithm>
#include <cstring>
#include <string>
#include <memory>

#include "fuzz_check.h"
#include "protocol/reply.h"

using namespace morvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool serial = data[0] & 1;
    const int count = static_cast<std::int16_t>(data[1] | (data[2] << 8));
    const std::size_t bufSize = size - 3;
    auto buf = std::make_unique<std::uint8_t[]>(bufSize);
    if (bufSize > 0) std::memcpy(buf.get(), data + 3, bufSize);

    const StatusReply status = ParseStatusReply(buf.get(), bufSize, count);
    FUZZ_CHECK(status == StatusReply::NoAnswer || (count == 4 && bufSize >= 4));
    if (status != StatusReply::NoAnswer) FUZZ_CHECK((status == StatusReply::Failure) == (buf[3] == kStatusFailure));

    const auto value = ParseValueReply(buf.get(), bufSize, count, serial);
    FUZZ_CHECK(value.has_value() == (count > 3));
    if (value) {
        // The reference: the bytes from the text's start for min(L, 39,
        // bytes that arrived after it), stopped at the first zero.
        const std::size_t arrived = std::min<std::size_t>(count, bufSize);
        const bool prefixed = serial && buf[0] == kSerialReplyPrefix;
        const std::size_t lengthAt = prefixed ? 4 : 3;
        std::string expected;
        if (lengthAt < arrived) {
            const std::size_t textAt = lengthAt + 1;
            const std::size_t take = std::min<std::size_t>({buf[lengthAt], kMaxValueBytes, arrived - textAt});
            for (std::size_t i = 0; i < take && buf[textAt + i] != 0; ++i)
                expected += static_cast<char>(buf[textAt + i]);
        }
        FUZZ_CHECK(*value == expected);
    }
    return 0;
}
