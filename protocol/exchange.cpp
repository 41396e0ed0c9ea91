#include "protocol/exchange.h"

#include <algorithm>
#include <functional>

#include "protocol/port_kind.h"
#include "protocol/reply.h"

namespace morvane {

namespace {

constexpr std::uint8_t kUnreadFill = 0xFF;  // so a short reply never looks like a zero status

ExchangeResult Message(int id, MessageIcon icon) {
    ExchangeResult result;
    result.kind = ExchangeResult::Kind::Message;
    result.messageId = id;
    result.icon = icon;
    return result;
}

ExchangeResult Value(int operation, std::string text) {
    ExchangeResult result;
    result.kind = ExchangeResult::Kind::Value;
    result.valueOperation = operation;
    result.value = std::move(text);
    return result;
}

ExchangeResult StatusMessage(StatusReply status) {
    return status == StatusReply::Failure ? Message(kMsgSetFail, MessageIcon::Warning)
                                          : Message(kMsgSetSuccess, MessageIcon::Information);
}

// A reader may report more than it was asked for; only `asked` bytes can be
// in the buffer, so that is what counts.
int ClampCount(int count, int asked) { return count > asked ? asked : count; }

// The first read, then while nothing came up to five more: the second at
// once, each later one after a 1500 ms wait. The last count made stands.
int ReadWithRetries(const std::function<int()>& read, int asked, Pause& pause, int& recvLen) {
    recvLen = 0;
    recvLen = ClampCount(read(), asked);
    for (int reads = 1; reads < kMaxReads && recvLen <= 0; ++reads) {
        if (reads >= 2) pause.Sleep(kRetryWaitMs);
        recvLen = ClampCount(read(), asked);
    }
    return recvLen;
}

ExchangeResult RunSerial(const FrameBuffer& sendBuf, int length, int operation, ReplyBuffer& recvBuf, int& recvLen,
                         SerialPath& serial, Pause& pause) {
    if (!serial.IsOpen()) return Message(kMsgOpenPortFirst, MessageIcon::Warning);
    if (!serial.WriteFrame(sendBuf, length)) return Message(kMsgSendFail, MessageIcon::Warning);

    std::fill(std::begin(recvBuf), std::end(recvBuf), kUnreadFill);
    const int count =
        ReadWithRetries([&] { return serial.ReadReply(recvBuf, kReplyReadCount); }, kReplyReadCount, pause, recvLen);

    if (IsValueOperation(operation)) {
        auto value = ParseValueReply(recvBuf, kReplyBufferSize, count, true);
        if (!value) return Message(kMsgNoAnswer, MessageIcon::Information);
        return Value(operation, std::move(*value));
    }
    const StatusReply status = ParseStatusReply(recvBuf, kReplyBufferSize, count);
    if (status == StatusReply::NoAnswer) return Message(kMsgNoAnswer, MessageIcon::Information);
    return StatusMessage(status);
}

ExchangeResult RunLibrary(const std::string& name, const FrameBuffer& sendBuf, int length, int operation,
                          ReplyBuffer& recvBuf, int& recvLen, PortLibrary& library, Pause& pause) {
    const char* port = name.c_str();
    // The library prepares the port afresh for every command.
    library.ClosePort(port);
    library.SetComParam(port, kLibraryLine.baud, kLibraryLine.dataBits, kLibraryLine.parity, kLibraryLine.stopBits,
                        kLibraryLine.flags);
    pause.Sleep(kLibrarySettleMs);

    // Drop whatever was waiting, such as a late answer to an earlier command.
    std::fill(std::begin(recvBuf), std::end(recvBuf), kUnreadFill);
    library.ReadData(port, recvBuf, kReplyReadCount);

    if (library.SendData(port, sendBuf, length) != length) return {};
    pause.Sleep(kLibraryAnswerMs);

    if (IsValueOperation(operation)) {
        std::fill(std::begin(recvBuf), std::end(recvBuf), std::uint8_t{0});
        const int count = ReadWithRetries([&] { return library.ReadData(port, recvBuf, kReplyReadCount); },
                                          kReplyReadCount, pause, recvLen);
        auto value = ParseValueReply(recvBuf, kReplyBufferSize, count, false);
        if (!value) return Message(kMsgReadFail, MessageIcon::Warning);
        return Value(operation, std::move(*value));
    }

    std::fill(std::begin(recvBuf), std::end(recvBuf), kUnreadFill);
    const int count = ReadWithRetries([&] { return library.ReadData(port, recvBuf, kStatusReadCount); },
                                      kStatusReadCount, pause, recvLen);
    const StatusReply status = ParseStatusReply(recvBuf, kReplyBufferSize, count);
    if (status == StatusReply::NoAnswer) return {};  // a wrong-length status reply ends without a message on this path
    return StatusMessage(status);
}

}  // namespace

ExchangeResult RunExchange(std::string_view portName, const FrameBuffer& sendBuf, int length, int operation,
                           ReplyBuffer& recvBuf, int& recvLen, SerialPath& serial, PortLibrary& library, Pause& pause) {
    // Never hand on more than the frame buffer holds.
    length = std::clamp(length, 0, static_cast<int>(kFrameBufferSize));
    if (IsSerialPortName(portName)) return RunSerial(sendBuf, length, operation, recvBuf, recvLen, serial, pause);
    return RunLibrary(std::string(portName), sendBuf, length, operation, recvBuf, recvLen, library, pause);
}

}  // namespace morvane
