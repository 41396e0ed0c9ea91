// The exchange on both paths, with the port, the library and the reads all
// taken from the input. Layout:
//   byte 0  port: 0 "COM1:", 1 "USB1:", 2 "LPT1", 3 "" (empty), 4 "com1"
//   byte 1  operation number
//   byte 2  bit 0 serial port closed, bit 1 write fails, bit 2 short send
//   byte 3  frame length = 2 * byte - 10 (so below 0 and above 255 occur)
//   then reads, each: signed count byte, byte count n, n bytes delivered.
// Reply and frame buffers are heap blocks of exactly 255 bytes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "protocol/exchange.h"
#include "protocol/reply.h"

using namespace morvane;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
};

struct Reads {
    Input& in;
    int calls = 0;
    // Fills at most `wanted` bytes, like any device, but reports whatever
    // count the input says: libraries have been seen to claim more.
    int Next(std::uint8_t* buf, int wanted) {
        ++calls;
        if (in.at >= in.size) return 0;
        const int count = static_cast<std::int8_t>(in.Byte());
        const std::size_t n = in.Byte();
        const std::size_t available = std::min(n, in.size - in.at);
        std::memcpy(buf, in.data + in.at, std::min<std::size_t>(available, std::max(wanted, 0)));
        in.at += available;
        return count;
    }
};

struct Serial : SerialPath {
    bool open = true, writeOk = true;
    Reads& reads;
    int writes = 0;
    explicit Serial(Reads& r) : reads(r) {}
    bool IsOpen() const override { return open; }
    bool WriteFrame(const std::uint8_t* frame, int length) override {
        FUZZ_CHECK(length >= 0 && length <= static_cast<int>(kFrameBufferSize));
        volatile std::uint8_t sink = 0;
        for (int i = 0; i < length; ++i) sink = sink + frame[i];  // touches every byte handed over
        ++writes;
        return writeOk;
    }
    int ReadReply(std::uint8_t* buf, int wanted) override {
        FUZZ_CHECK(wanted == kReplyReadCount);
        return reads.Next(buf, wanted);
    }
};

struct Library : PortLibrary {
    Reads& reads;
    bool shortSend = false;
    int calls = 0;
    explicit Library(Reads& r) : reads(r) {}
    int ClosePort(const char*) override { return ++calls, 1; }
    int SetComParam(const char*, int, int, char, int, int) override { return ++calls, 1; }
    int SendData(const char*, const std::uint8_t* data, int length) override {
        ++calls;
        FUZZ_CHECK(length >= 0 && length <= static_cast<int>(kFrameBufferSize));
        volatile std::uint8_t sink = 0;
        for (int i = 0; i < length; ++i) sink = sink + data[i];
        return shortSend ? length - 1 : length;
    }
    int ReadData(const char*, std::uint8_t* buf, int maxCount) override {
        ++calls;
        FUZZ_CHECK(maxCount == kReplyReadCount || maxCount == kStatusReadCount);
        return reads.Next(buf, maxCount);
    }
};

struct Clock : Pause {
    unsigned long long total = 0;
    void Sleep(unsigned ms) override { total += ms; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kPorts[] = {"COM1:", "USB1:", "LPT1", "", "com1"};
    Input in{data, size};
    const std::string port = kPorts[in.Byte() % 5];
    const int operation = in.Byte();
    const std::uint8_t flags = in.Byte();
    const int length = 2 * in.Byte() - 10;

    Reads reads{in};
    Serial serial(reads);
    Library library(reads);
    Clock clock;
    serial.open = !(flags & 1);
    serial.writeOk = !(flags & 2);
    library.shortSend = flags & 4;

    auto sendBlock = std::make_unique<std::uint8_t[]>(kFrameBufferSize);
    auto recvBlock = std::make_unique<std::uint8_t[]>(kReplyBufferSize);
    std::memset(sendBlock.get(), 0x1D, kFrameBufferSize);
    auto& sendBuf = *reinterpret_cast<FrameBuffer*>(sendBlock.get());
    auto& recvBuf = *reinterpret_cast<ReplyBuffer*>(recvBlock.get());
    int recvLen = -12345;

    const ExchangeResult r = RunExchange(port, sendBuf, length, operation, recvBuf, recvLen, serial, library, clock);

    const bool isSerial = port.find("COM") != std::string::npos;
    const bool isValue = operation >= 1 && operation <= 3;
    // Bounded: six reads at most (plus the library's draining one), and
    // waits of 20 + 2000 + 4 * 1500 ms at most.
    FUZZ_CHECK(reads.calls <= kMaxReads + 1);
    FUZZ_CHECK(clock.total <= 20 + 2000 + 4 * 1500);
    FUZZ_CHECK(isSerial ? library.calls == 0 : serial.writes == 0);
    const int asked = (!isSerial && !isValue) ? kStatusReadCount : kReplyReadCount;
    FUZZ_CHECK(recvLen == -12345 || recvLen <= asked);

    switch (r.kind) {
        case ExchangeResult::Kind::Value:
            FUZZ_CHECK(isValue && r.valueOperation == operation);
            FUZZ_CHECK(r.value.size() <= kMaxValueBytes && r.value.find('\0') == std::string::npos);
            FUZZ_CHECK(recvLen > 3);
            break;
        case ExchangeResult::Kind::Message: {
            const int id = r.messageId;
            const bool warning = r.icon == MessageIcon::Warning;
            FUZZ_CHECK(id >= kMsgOpenPortFirst && id <= kMsgReadFail);
            FUZZ_CHECK(warning ==
                       (id == kMsgOpenPortFirst || id == kMsgSendFail || id == kMsgSetFail || id == kMsgReadFail));
            if (id == kMsgSetSuccess || id == kMsgSetFail) {
                // A success is never reported without a 4-byte reply to say so.
                FUZZ_CHECK(!isValue && recvLen == 4);
                FUZZ_CHECK((recvBuf[3] == kStatusFailure) == (id == kMsgSetFail));
            }
            if (id == kMsgOpenPortFirst) FUZZ_CHECK(isSerial && !serial.open && serial.writes == 0);
            if (!isSerial) FUZZ_CHECK(id == kMsgSetSuccess || id == kMsgSetFail || id == kMsgReadFail);
            break;
        }
        case ExchangeResult::Kind::Nothing: FUZZ_CHECK(!isSerial); break;
    }
    return 0;
}
