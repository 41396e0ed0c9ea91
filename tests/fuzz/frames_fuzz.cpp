// Frame building from any text and any number. Input: a selector byte, a
// 32-bit little-endian number, then the text. The frame buffer is a heap
// block of exactly 255 bytes so a write past it is caught.
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/frames.h"

using namespace morvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::uint8_t selector = data[0];
    std::int32_t number;
    std::uint32_t raw = data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<std::uint32_t>(data[4]) << 24);
    std::memcpy(&number, &raw, sizeof number);
    const std::string_view text(reinterpret_cast<const char*>(data + 5), size - 5);

    auto block = std::make_unique<std::uint8_t[]>(kFrameBufferSize);
    FrameBuffer& buf = *reinterpret_cast<FrameBuffer*>(block.get());
    const std::size_t n = std::min(text.size(), kMaxTextBytes);

    Frame frame;
    switch (selector % 5) {
        case 0:
            frame = BuildSetName(buf, text);
            FUZZ_CHECK(frame.operation == kOpSetName);
            FUZZ_CHECK(frame.length == static_cast<int>(n) + 4 && buf[3] == n);
            FUZZ_CHECK(std::memcmp(buf + 4, text.data(), n) == 0);
            break;
        case 1:
            frame = BuildSetPassword(buf, text);
            FUZZ_CHECK(frame.operation == kOpSetPassword);
            FUZZ_CHECK(frame.length == static_cast<int>(n) + 5 && buf[3] == n + 1);
            FUZZ_CHECK(std::memcmp(buf + 4, text.data(), n) == 0 && buf[4 + n] == kPasswordTerminator);
            break;
        case 2: {
            frame = BuildPosition(buf, number);
            FUZZ_CHECK(frame.length == 8 && buf[3] == (number < 0 ? 0x80 : 0x00));
            const std::uint32_t m = (std::uint32_t{buf[4]} << 24) | (buf[5] << 16) | (buf[6] << 8) | buf[7];
            const std::int64_t magnitude = number < 0 ? -static_cast<std::int64_t>(number) : number;
            FUZZ_CHECK(m == static_cast<std::uint64_t>(magnitude));
            break;
        }
        case 3: {
            const auto setting = static_cast<ListSetting>((selector / 5) % 12);
            const ListSettingInfo info = GetListSettingInfo(setting);
            frame = BuildListSetting(buf, setting, number);
            FUZZ_CHECK(frame.length == 4 && buf[2] == info.code && frame.operation == info.operation);
            FUZZ_CHECK(buf[3] == static_cast<std::uint8_t>(static_cast<std::uint32_t>(number) + info.indexPlusOne));
            break;
        }
        default:
            frame = BuildChineseMode(buf, number);
            FUZZ_CHECK(frame.length == 3 && buf[2] == (number == 0 ? 0x55 : 0xAA));
            break;
    }
    FUZZ_CHECK(buf[0] == kFrameHeader0 && buf[1] == kFrameHeader1);
    FUZZ_CHECK(frame.length >= 3 && frame.length <= 25);
    return 0;
}
