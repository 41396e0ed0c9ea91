// The exchange's decisions on both paths, with fake ports and a fake clock.
#include "protocol/exchange.h"
#include "protocol/port_kind.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace morvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ElementsAre;
using testing::ElementsAreArray;

// One scripted read: the bytes put into the buffer and the count reported
// (by default the number of bytes).
struct Read {
    Bytes bytes;
    std::optional<int> count;
};

using Script = std::deque<Read>;

// Everything the fakes see, in order, as text: the call order is the contract.
struct Log {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

int Deliver(Script& script, std::uint8_t* buf, int maxCount) {
    if (script.empty()) return 0;
    Read r = script.front();
    script.pop_front();
    // Fakes may copy more than asked (to model a misbehaving library) but
    // never past the 255-byte reply buffer.
    std::copy_n(r.bytes.begin(), std::min<std::size_t>(r.bytes.size(), kReplyBufferSize), buf);
    (void)maxCount;
    return r.count.value_or(static_cast<int>(r.bytes.size()));
}

struct FakeClock : Pause {
    Log& log;
    unsigned long long now = 0;
    explicit FakeClock(Log& l) : log(l) {}
    void Sleep(unsigned ms) override {
        now += ms;
        log.Add("Sleep " + std::to_string(ms));
    }
};

struct FakeSerial : SerialPath {
    Log& log;
    bool open = true;
    bool writeOk = true;
    Script reads;
    Bytes written;
    Bytes bufferAtFirstRead;
    explicit FakeSerial(Log& l) : log(l) {}
    bool IsOpen() const override { return open; }
    bool WriteFrame(const std::uint8_t* frame, int length) override {
        written.assign(frame, frame + length);
        log.Add("WriteFrame " + std::to_string(length));
        return writeOk;
    }
    int ReadReply(std::uint8_t* buf, int wanted) override {
        if (bufferAtFirstRead.empty()) bufferAtFirstRead.assign(buf, buf + kReplyBufferSize);
        log.Add("ReadReply " + std::to_string(wanted));
        return Deliver(reads, buf, wanted);
    }
};

struct FakeLibrary : PortLibrary {
    Log& log;
    Script reads;
    std::optional<int> sendResult;  // default: the length asked
    Bytes sent;
    std::vector<Bytes> buffersAtRead;
    explicit FakeLibrary(Log& l) : log(l) {}
    int ClosePort(const char* port) override {
        log.Add(std::string("ClosePort ") + port);
        return 1;
    }
    int SetComParam(const char* port, int baud, int dataBits, char parity, int stopBits, int flags) override {
        log.Add(std::string("SetComParam ") + port + " " + std::to_string(baud) + " " + std::to_string(dataBits) + " " +
                parity + " " + std::to_string(stopBits) + " " + std::to_string(flags));
        return 1;
    }
    int SendData(const char* port, const std::uint8_t* data, int length) override {
        sent.assign(data, data + length);
        log.Add(std::string("SendData ") + port + " " + std::to_string(length));
        return sendResult.value_or(length);
    }
    int ReadData(const char* port, std::uint8_t* buf, int maxCount) override {
        buffersAtRead.emplace_back(buf, buf + kReplyBufferSize);
        log.Add(std::string("ReadData ") + port + " " + std::to_string(maxCount));
        return Deliver(reads, buf, maxCount);
    }
};

struct Rig {
    Log log;
    FakeClock clock{log};
    FakeSerial serial{log};
    FakeLibrary library{log};
    FrameBuffer sendBuf{};
    ReplyBuffer recvBuf{};
    int recvLen = -99;

    ExchangeResult Run(std::string_view port, int operation, int length = 4) {
        for (int i = 0; i < length && i < static_cast<int>(kFrameBufferSize); ++i)
            sendBuf[i] = static_cast<std::uint8_t>(0x1D + i);
        return RunExchange(port, sendBuf, length, operation, recvBuf, recvLen, serial, library, clock);
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& e : log.events) n += e.rfind(prefix, 0) == 0;
        return n;
    }
};

const Read kSilence{{}, 0};
Read Status(std::uint8_t byte3) { return {{0x1D, 0x46, 0x7C, byte3}, std::nullopt}; }

std::string Describe(const ExchangeResult& r) {
    switch (r.kind) {
        case ExchangeResult::Kind::Nothing: return "nothing";
        case ExchangeResult::Kind::Message:
            return "message " + std::to_string(r.messageId) +
                   (r.icon == MessageIcon::Warning ? " warning" : " information");
        case ExchangeResult::Kind::Value: return "value " + std::to_string(r.valueOperation) + " \"" + r.value + "\"";
    }
    return "?";
}

struct OutcomeCase {
    const char* what;
    const char* port;
    int operation;
    Script reads;  // for the library: the draining read comes first
    std::string expected;
};

TEST(ExchangeOutcome, EachMessageByCase) {
    const Read drain = kSilence;
    const OutcomeCase cases[] = {
        {"serial set success", "COM1:", kOpDarkness, {Status(0x00)}, "message 126 information"},
        {"serial 0xFE is success", "COM1:", kOpDarkness, {Status(0xFE)}, "message 126 information"},
        {"serial set fail", "COM1:", kOpBaudRate, {Status(0xFF)}, "message 125 warning"},
        {"serial 5-byte status", "COM1:", kOpSetName, {{{0, 0, 0, 0, 0}, {}}}, "message 123 information"},
        {"serial 3-byte status", "COM1:", kOpSetName, {{{0, 0, 0}, {}}}, "message 123 information"},
        {"serial silent status", "COM1:", kOpPosition, {}, "message 123 information"},
        {"serial short value", "COM1:", kOpReadName, {{{0, 0, 0}, {}}}, "message 123 information"},
        {"serial value", "COM1:", kOpReadName, {{{0, 0, 0, 2, 'B', 'T'}, {}}}, "value 1 \"BT\""},
        {"serial value length 0", "COM1:", kOpReadPassword, {{{0, 0, 0, 0}, {}}}, "value 3 \"\""},
        {"library set success", "USB1:", kOpBeeper, {drain, Status(0x00)}, "message 126 information"},
        {"library set fail", "LPT1", kOpBeeper, {drain, Status(0xFF)}, "message 125 warning"},
        {"library 5-byte status is clamped to 4",
         "USB1:",
         kOpBeeper,
         {drain, {{0, 0, 0, 1, 9}, {}}},
         "message 126 information"},
        {"library 3-byte status", "USB1:", kOpBeeper, {drain, {{0, 0, 0}, {}}}, "nothing"},
        {"library silent status", "USB1:", kOpBeeper, {}, "nothing"},
        {"library short value", "USB1:", kOpReadAddress, {drain, {{0, 0, 0}, {}}}, "message 127 warning"},
        {"library silent value", "USB1:", kOpReadAddress, {}, "message 127 warning"},
        {"library value", "USB1:", kOpReadAddress, {drain, {{0, 0, 0, 3, 'a', 'b', 'c'}, {}}}, "value 2 \"abc\""},
        {"empty port name goes to the library", "", kOpBeeper, {drain, Status(0)}, "message 126 information"},
        {"lower-case com goes to the library", "com1", kOpBeeper, {drain, Status(0)}, "message 126 information"},
    };
    for (const OutcomeCase& c : cases) {
        Rig rig;
        (IsSerialPortName(c.port) ? rig.serial.reads : rig.library.reads) = c.reads;
        const std::string got = Describe(rig.Run(c.port, c.operation));
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST(ExchangeSerial, NoOpenPortSendsNothing) {
    for (int op : {kOpReadName, kOpDarkness}) {
        Rig rig;
        rig.serial.open = false;
        EXPECT_EQ(Describe(rig.Run("COM3:", op)), "message 122 warning");
        EXPECT_TRUE(rig.log.events.empty()) << "got " << rig.log.events.size() << " calls";
    }
}

TEST(ExchangeSerial, WriteFailureStopsBeforeReading) {
    Rig rig;
    rig.serial.writeOk = false;
    EXPECT_EQ(Describe(rig.Run("COM3:", kOpDarkness)), "message 124 warning");
    EXPECT_THAT(rig.log.events, ElementsAre("WriteFrame 4"));
}

TEST(ExchangeSerial, WritesTheFrameAsGiven) {
    Rig rig;
    rig.serial.reads = {Status(0)};
    rig.Run("COM3:", kOpSetPassword, 9);
    EXPECT_THAT(rig.serial.written, ElementsAreArray(Bytes(rig.sendBuf, rig.sendBuf + 9)));
}

TEST(ExchangeSerial, SilenceMakesSixReadsAndFourWaits) {
    Rig rig;
    EXPECT_EQ(Describe(rig.Run("COM1:", kOpDarkness)), "message 123 information");
    EXPECT_THAT(rig.log.events,
                ElementsAre("WriteFrame 4", "ReadReply 64", "ReadReply 64", "Sleep 1500", "ReadReply 64", "Sleep 1500",
                            "ReadReply 64", "Sleep 1500", "ReadReply 64", "Sleep 1500", "ReadReply 64"));
    EXPECT_EQ(rig.clock.now, 6000u);
    EXPECT_EQ(rig.recvLen, 0);
}

TEST(ExchangeSerial, FirstNonEmptyReadEndsRetries) {
    struct Case {
        int emptyReads;
        int waits;
    };
    for (Case c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{5, 4}}) {
        Rig rig;
        for (int i = 0; i < c.emptyReads; ++i)
            rig.serial.reads.push_back(i % 2 ? kSilence : Read{{}, -1});  // failures count as empty
        rig.serial.reads.push_back(Status(0));
        rig.serial.reads.push_back(Status(0xFF));  // must never be read
        EXPECT_EQ(Describe(rig.Run("COM1:", kOpDarkness)), "message 126 information") << c.emptyReads;
        EXPECT_EQ(rig.Count("ReadReply"), c.emptyReads + 1) << "after " << c.emptyReads << " empty reads";
        EXPECT_EQ(rig.Count("Sleep 1500"), c.waits) << "after " << c.emptyReads << " empty reads";
        EXPECT_EQ(rig.recvLen, 4);
    }
}

TEST(ExchangeSerial, LastCountStandsWhenAllFail) {
    Rig rig;
    rig.serial.reads = {kSilence, kSilence, kSilence, kSilence, kSilence, {{}, -1}};
    rig.Run("COM1:", kOpDarkness);
    EXPECT_EQ(rig.recvLen, -1);
}

TEST(ExchangeSerial, ReplyBufferFilledBeforeReading) {
    Rig rig;
    std::fill(std::begin(rig.recvBuf), std::end(rig.recvBuf), 0x00);
    rig.serial.reads = {Status(0)};
    rig.Run("COM1:", kOpDarkness);
    EXPECT_EQ(rig.serial.bufferAtFirstRead, Bytes(kReplyBufferSize, 0xFF));
    EXPECT_EQ(rig.recvBuf[4], 0xFF);
}

TEST(ExchangeSerial, CountAboveAskedIsClamped) {
    Rig rig;
    Bytes reply = {0, 0, 0, 60};
    reply.resize(100, 'v');
    rig.serial.reads = {{reply, 100}};
    const ExchangeResult r = rig.Run("COM1:", kOpReadName);
    EXPECT_EQ(rig.recvLen, 64);
    EXPECT_EQ(r.value, std::string(39, 'v'));
}

TEST(ExchangeSerialValue, PrefixOnlyOnSerial) {
    const Bytes reply = {0x11, 0, 0, 3, 2, 'h', 'i'};
    Rig serial;
    serial.serial.reads = {{reply, {}}};
    EXPECT_EQ(Describe(serial.Run("COM1:", kOpReadName)), "value 1 \"hi\"");
    Rig library;
    library.library.reads = {kSilence, {reply, {}}};
    EXPECT_EQ(Describe(library.Run("USB1:", kOpReadName)), "value 1 \"\x02hi\"");
}

TEST(ExchangeSerialValue, PrefixedReplyOfFourBytesIsEmpty) {
    Rig rig;
    rig.serial.reads = {{{0x11, 0, 0, 7}, {}}};
    EXPECT_EQ(Describe(rig.Run("COM1:", kOpReadPassword)), "value 3 \"\"");
}

TEST(ExchangeLibrary, CallOrderAndArgumentsForStatus) {
    Rig rig;
    rig.library.reads = {kSilence, Status(0)};
    rig.Run("USB2:", kOpPaperWidth, 4);
    EXPECT_THAT(rig.log.events, ElementsAre("ClosePort USB2:", "SetComParam USB2: 115200 8 N 1 2", "Sleep 20",
                                            "ReadData USB2: 64", "SendData USB2: 4", "Sleep 2000", "ReadData USB2: 4"));
    EXPECT_THAT(rig.library.sent, ElementsAreArray(Bytes(rig.sendBuf, rig.sendBuf + 4)));
    EXPECT_EQ(rig.library.buffersAtRead[0], Bytes(kReplyBufferSize, 0xFF));
    EXPECT_EQ(rig.library.buffersAtRead[1], Bytes(kReplyBufferSize, 0xFF));
    EXPECT_EQ(rig.recvLen, 4);
}

TEST(ExchangeLibrary, CallOrderAndArgumentsForValue) {
    Rig rig;
    rig.library.reads = {kSilence, {{0, 0, 0, 1, 'A'}, {}}};
    rig.Run("LPT1", kOpReadName, 4);
    EXPECT_THAT(rig.log.events, ElementsAre("ClosePort LPT1", "SetComParam LPT1 115200 8 N 1 2", "Sleep 20",
                                            "ReadData LPT1 64", "SendData LPT1 4", "Sleep 2000", "ReadData LPT1 64"));
    EXPECT_EQ(rig.library.buffersAtRead[1], Bytes(kReplyBufferSize, 0x00)) << "value reads start from zeros";
}

TEST(ExchangeLibrary, SilenceRetriesLikeSerial) {
    struct Case {
        int operation;
        const char* read;
        const char* expected;
    };
    for (Case c : {Case{kOpBeeper, "ReadData USB1: 4", "nothing"},
                   Case{kOpReadName, "ReadData USB1: 64", "message 127 warning"}}) {
        Rig rig;
        EXPECT_EQ(Describe(rig.Run("USB1:", c.operation)), c.expected);
        EXPECT_EQ(rig.Count(c.read), c.operation == kOpReadName ? 7 : 6) << "the draining read is a 64";
        EXPECT_EQ(rig.Count("Sleep 1500"), 4);
        EXPECT_EQ(rig.clock.now, 20u + 2000u + 6000u);
    }
}

TEST(ExchangeLibrary, DrainedBytesAreDiscarded) {
    Rig rig;
    rig.library.reads = {Status(0xFF)};  // a late answer waiting before the send
    EXPECT_EQ(Describe(rig.Run("USB1:", kOpBeeper)), "nothing");
}

TEST(ExchangeLibrary, ShortSendStopsSilently) {
    for (int sendResult : {0, 3, 5, -1}) {
        Rig rig;
        rig.library.sendResult = sendResult;
        EXPECT_EQ(Describe(rig.Run("USB1:", kOpBeeper)), "nothing") << "SendData returned " << sendResult;
        EXPECT_EQ(rig.log.events.back(), "SendData USB1: 4");
    }
}

TEST(ExchangeLibrary, CountAboveAskedIsClamped) {
    Rig rig;
    rig.library.reads = {kSilence, {{0, 0, 0, 0xFF}, 200}};
    EXPECT_EQ(Describe(rig.Run("USB1:", kOpBeeper)), "message 125 warning");
    EXPECT_EQ(rig.recvLen, 4);
}

TEST(ExchangeLength, NeverBeyondTheFrameBuffer) {
    Rig rig;
    rig.serial.reads = {Status(0)};
    rig.Run("COM1:", kOpDarkness, 1000);
    EXPECT_EQ(rig.serial.written.size(), kFrameBufferSize);
    Rig lib;
    lib.library.reads = {kSilence, Status(0)};
    EXPECT_EQ(Describe(lib.Run("USB1:", kOpDarkness, -3)), "message 126 information");
    EXPECT_TRUE(lib.library.sent.empty());
}

}  // namespace
}  // namespace morvane
