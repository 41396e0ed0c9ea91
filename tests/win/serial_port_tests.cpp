// The serial-port operations against a pseudo-terminal linked as a COM port
// under Wine; the pty peer on the Linux side answers, listens and reports the
// line settings.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "port/serial_port.h"
#include "tests/win/peer_client.h"

namespace morvane {
namespace {

using test::Bytes;
using test::PeerClient;
using Clock = std::chrono::steady_clock;

// Wine numbers: com1 may be the machine's own ttyS0, so the tests use ports
// that nothing else claims; 12 is above 9 on purpose.
constexpr const char* kLink = "com5";
constexpr const char* kPort = "COM5:";
constexpr const char* kHighLink = "com12";
constexpr const char* kHighPort = "COM12:";
constexpr const char* kMissingPort = "COM7:";

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes Sequence(int count, std::uint8_t first = 1) {
    Bytes b;
    for (int i = 0; i < count; ++i) b.push_back(static_cast<std::uint8_t>(first + i));
    return b;
}

// ---- the settings as data -------------------------------------------------

TEST(SerialSettings, ApplyLineSettingsChangesOnlyTheToolsFields) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Everything the tool does not own starts "on", so a stray change shows.
    dcb.BaudRate = 1200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = FALSE;
    dcb.fParity = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fNull = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.XonLim = 11;
    dcb.XoffLim = 22;
    dcb.XonChar = 0x31;
    dcb.XoffChar = 0x32;
    dcb.ErrorChar = 0x33;
    dcb.EofChar = 0x34;
    dcb.EvtChar = 0x35;

    ApplyLineSettings(dcb, 19200);

    struct Field {
        const char* name;
        unsigned long got, expected;
    };
    const Field fields[] = {
        {"BaudRate", dcb.BaudRate, 19200},
        {"ByteSize", dcb.ByteSize, 8},
        {"Parity", dcb.Parity, NOPARITY},
        {"StopBits", dcb.StopBits, ONESTOPBIT},
        {"fBinary", dcb.fBinary, 1},
        {"fParity", dcb.fParity, 0},
        {"fDtrControl", dcb.fDtrControl, DTR_CONTROL_DISABLE},
        {"fRtsControl", dcb.fRtsControl, RTS_CONTROL_DISABLE},
        {"fTXContinueOnXoff", dcb.fTXContinueOnXoff, 0},
        {"fOutX", dcb.fOutX, 0},
        {"fInX", dcb.fInX, 0},
        // kept as read
        {"fOutxCtsFlow", dcb.fOutxCtsFlow, 1},
        {"fOutxDsrFlow", dcb.fOutxDsrFlow, 1},
        {"fDsrSensitivity", dcb.fDsrSensitivity, 1},
        {"fErrorChar", dcb.fErrorChar, 1},
        {"fNull", dcb.fNull, 1},
        {"fAbortOnError", dcb.fAbortOnError, 1},
        {"XonLim", dcb.XonLim, 11},
        {"XoffLim", dcb.XoffLim, 22},
        {"XonChar", static_cast<unsigned char>(dcb.XonChar), 0x31},
        {"XoffChar", static_cast<unsigned char>(dcb.XoffChar), 0x32},
        {"ErrorChar", static_cast<unsigned char>(dcb.ErrorChar), 0x33},
        {"EofChar", static_cast<unsigned char>(dcb.EofChar), 0x34},
        {"EvtChar", static_cast<unsigned char>(dcb.EvtChar), 0x35},
    };
    for (const auto& f : fields) {
        EXPECT_EQ(f.got, f.expected) << f.name << ": got " << f.got << ", expected " << f.expected;
    }
}

TEST(SerialSettings, TimeoutsAndPurge) {
    EXPECT_EQ(kSerialTimeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(kSerialTimeouts.ReadTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(kSerialTimeouts.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(kPurgeBuffers, 12u);
}

// The longest a write of `bytes` may take under these time-outs, in ms;
// 0 when writes have no time-out at all.
unsigned long WriteBoundMs(const COMMTIMEOUTS& t, unsigned long bytes) {
    return t.WriteTotalTimeoutConstant + t.WriteTotalTimeoutMultiplier * bytes;
}

// 25 bytes at 2400 baud (10 bits a byte) take about 105 ms on the line.
void ExpectWritesBounded(const COMMTIMEOUTS& t) {
    constexpr unsigned long kFrameLineMs = 25 * 10 * 1000 / 2400;
    const unsigned long bound = WriteBoundMs(t, 25);
    EXPECT_GE(bound, 3 * kFrameLineMs) << "a 25-byte frame at 2400 baud would time out";
    EXPECT_LE(bound, 5000u) << "a blocked write would hang the dialog for " << bound << " ms";
    EXPECT_GE(WriteBoundMs(t, 255) - bound, 230 * kFrameLineMs / 25) << "no allowance per byte";
}

TEST(SerialSettings, WritesAreBounded) { ExpectWritesBounded(kSerialTimeouts); }

// ---- against a pseudo-terminal ---------------------------------------------

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(peer_.Connect(why)) << why;
        ASSERT_FALSE(peer_.Link(kLink).empty()) << "the peer could not link " << kLink;
    }
    void TearDown() override {
        if (IsPortOpen(port_)) CloseSerialPort(port_);
        peer_.Unlink(kLink);
    }
    void Open(int baud = 9600) {
        port_ = OpenSerialPort(kPort, baud);
        ASSERT_TRUE(IsPortOpen(port_)) << "OpenSerialPort(\"" << kPort << "\") gave no port, error " << GetLastError();
    }

    PeerClient peer_;
    HANDLE port_ = nullptr;
};

// How many descriptors other processes hold on the device behind `link`,
// once the count has settled (closing may take Wine a moment).
int SettledOpeners(PeerClient& peer, const char* link, int expected) {
    int n = -1;
    for (int i = 0; i < 50; ++i) {
        n = peer.Openers(link).value_or(-1);
        if (n == expected) break;
        Sleep(20);
    }
    return n;
}

TEST_F(SerialPortTest, OpensAndClosesAndOpensAgain) {
    ASSERT_EQ(SettledOpeners(peer_, kLink, 0), 0) << "the device is open before the test";
    Open();
    EXPECT_GE(peer_.Openers(kLink).value_or(-1), 1) << "open, yet nobody holds the device";
    const Bytes frame = {0x1D, 0x46, 0x01};
    EXPECT_TRUE(WriteSerialFrame(port_, frame.data(), 3));
    CloseSerialPort(port_);
    port_ = nullptr;
    EXPECT_EQ(SettledOpeners(peer_, kLink, 0), 0) << "the device is still held after CloseSerialPort";
    const auto got = peer_.Read(kLink, 3, 2000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(test::ToHex(*got), "1D4601");
    Open();
    EXPECT_TRUE(WriteSerialFrame(port_, frame.data(), 3)) << "the port does not work after a reopen";
}

TEST_F(SerialPortTest, NameWithNoDeviceGivesNoneAndLeavesNothingOpen) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        HANDLE h = OpenSerialPort(kMissingPort, 9600);
        EXPECT_EQ(h, nullptr) << "attempt " << attempt << ": got a handle for a port with no device";
        if (IsPortOpen(h)) CloseSerialPort(h);
    }
    // The device that does exist is still free to open.
    Open();
}

TEST_F(SerialPortTest, RefusedLineSettingsLeaveNothingOpen) {
    // A device that opens but is no serial line: SetCommState is refused.
    constexpr const char* kFifoLink = "com7";
    ASSERT_FALSE(peer_.LinkFifo(kFifoLink).empty());
    HANDLE h = OpenSerialPort(kMissingPort, 9600);
    EXPECT_EQ(h, nullptr) << "a FIFO was taken for a serial port";
    if (IsPortOpen(h)) CloseSerialPort(h);
    EXPECT_EQ(SettledOpeners(peer_, kFifoLink, 0), 0) << "the refused device was left open";
    peer_.Unlink(kFifoLink);
}

TEST_F(SerialPortTest, LineSettingsSeenFromLinux) {
    // Preset the line to something else so that every change shows.
    const long speeds[] = {2400, 9600, 19200, 38400, 57600, 115200};
    for (long speed : speeds) {
        ASSERT_TRUE(peer_.SetTermios(kLink, speed == 2400 ? 4800 : 2400, 7, true, true));
        port_ = OpenSerialPort(kPort, static_cast<int>(speed));
        ASSERT_TRUE(IsPortOpen(port_)) << "open at " << speed;
        const auto line = peer_.Termios(kLink);
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->speed, speed) << "speed: got " << line->speed << ", expected " << speed;
        // A Linux pty always reports CS8 without parity; the stop bits and
        // the speed are what the open really changed.
        EXPECT_EQ(line->csize, 8) << "data bits at " << speed;
        EXPECT_EQ(line->parenb, 0) << "parity at " << speed;
        EXPECT_EQ(line->cstopb, 0) << "stop bits at " << speed << ": got two, expected one";
        EXPECT_EQ(line->crtscts, 0) << "hardware flow control at " << speed;
        EXPECT_EQ(line->ixon, 0) << "XON/XOFF on output at " << speed;
        EXPECT_EQ(line->ixoff, 0) << "XON/XOFF on input at " << speed;
        CloseSerialPort(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialPortTest, WriteSendsTheFrameInOneGo) {
    Open();
    const Bytes frame = {0x1D, 0x46, 0x7C, 0x04};
    EXPECT_TRUE(WriteSerialFrame(port_, frame.data(), static_cast<int>(frame.size())));
    const auto got = peer_.Read(kLink, static_cast<int>(frame.size()), 2000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(test::ToHex(*got), test::ToHex(frame));
}

TEST_F(SerialPortTest, PortEndsUpWithBoundedWrites) {
    COMMTIMEOUTS preset = {1, 2, 3, 0, 0};  // another program's: writes that never give up
    HANDLE h = CreateFileA(kPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommTimeouts(h, &preset));
    CloseHandle(h);
    Open();
    COMMTIMEOUTS now{};
    ASSERT_TRUE(GetCommTimeouts(port_, &now));
    ExpectWritesBounded(now);
}

// A line that takes no more bytes: nobody drains the far end of the pty.
// The write gives up within its bound and counts as failed; the port works
// afterwards. A short time-out of the test's own keeps this quick.
TEST_F(SerialPortTest, WriteThatCannotFinishFailsAndThePortStillWorks) {
    Open();
    COMMTIMEOUTS quick = kSerialTimeouts;
    quick.WriteTotalTimeoutMultiplier = 0;
    quick.WriteTotalTimeoutConstant = 300;
    ASSERT_TRUE(SetCommTimeouts(port_, &quick));
    const Bytes flood(1 << 20, 0x55);
    const auto start = Clock::now();
    const bool sent = WriteSerialFrame(port_, flood.data(), static_cast<int>(flood.size()));
    const long long ms = MsSince(start);
    std::printf("[figure] 1 MiB write to a pty nobody drains: %s after %lld ms\n", sent ? "sent" : "failed", ms);
    EXPECT_FALSE(sent) << "a write that could not finish reported success";
    EXPECT_LE(ms, 10000);
    peer_.Drain(kLink);
    const Bytes frame = {0x1D, 0x46, 0x01};
    EXPECT_TRUE(WriteSerialFrame(port_, frame.data(), 3)) << "the port stays failed after a timed-out write";
}

TEST_F(SerialPortTest, WantedZeroOrNegativeGivesMinusOneWithoutARequest) {
    Open();
    const Bytes waiting = {0xA1, 0xA2, 0xA3};
    ASSERT_TRUE(peer_.Send(kLink, waiting));
    std::uint8_t buf[8] = {};
    for (int wanted : {0, -5}) {
        const auto start = Clock::now();
        EXPECT_EQ(ReadSerialReply(port_, buf, wanted), -1) << "wanted " << wanted;
        EXPECT_LT(MsSince(start), 50) << "wanted " << wanted << " should return at once";
    }
    // Nothing was read: the bytes are still there for the next real read.
    EXPECT_EQ(ReadSerialReply(port_, buf, 3), 3);
    EXPECT_EQ(test::ToHex(Bytes(buf, buf + 3)), test::ToHex(waiting));
}

TEST_F(SerialPortTest, FullAnswerReturnsAtOnce) {
    Open();
    const Bytes answer = Sequence(64);
    ASSERT_TRUE(peer_.Send(kLink, answer));
    std::uint8_t buf[64] = {};
    const auto start = Clock::now();
    const int got = ReadSerialReply(port_, buf, 64);
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 64);
    EXPECT_EQ(test::ToHex(Bytes(buf, buf + 64)), test::ToHex(answer));
    // No pause was taken: one pause alone is 20 ms, the budget 20 of them.
    EXPECT_LT(ms, 400) << "a full answer took " << ms << " ms";
}

TEST_F(SerialPortTest, ShortAnswerComesBackOnlyAfterTheWholeBudget) {
    Open();
    const Bytes answer = {0x1D, 0x46, 0x00, 0x01};
    ASSERT_TRUE(peer_.Send(kLink, answer));
    std::uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    const auto start = Clock::now();
    const int got = ReadSerialReply(port_, buf, 64);
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(test::ToHex(Bytes(buf, buf + 4)), test::ToHex(answer));
    EXPECT_EQ(buf[4], 0xEE) << "wrote past the bytes it returned";
    // 20 pauses of 20 ms plus 20 empty requests of at least the 100 ms
    // constant; loose both ways.
    EXPECT_GE(ms, 20 * 20 + 20 * 80) << "stopped early, after " << ms << " ms";
    EXPECT_LE(ms, 12000) << "took " << ms << " ms";
    std::printf("[figure] 4-byte answer to a 64-byte read: %lld ms\n", ms);
}

TEST_F(SerialPortTest, SilentLineTakesTheWholeBudget) {
    Open();
    std::uint8_t buf[64];
    const auto start = Clock::now();
    const int got = ReadSerialReply(port_, buf, 64);
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 0);
    EXPECT_GE(ms, 20 * 20 + 20 * 80) << "gave up after " << ms << " ms";
    EXPECT_LE(ms, 12000) << "took " << ms << " ms";
    RecordProperty("silent_read_64_ms", static_cast<int>(ms));
    std::printf("[figure] 64-byte read on a silent line: %lld ms\n", ms);
}

TEST_F(SerialPortTest, PiecesAreAssembledInOrderWithoutRefillingTheBudget) {
    Open();
    // Three pieces with quiet gaps far above the 100 ms interval time-out, so
    // empty requests fall between them. A silent 64-byte read spends its
    // budget in about 3.8 s; had the pieces refilled it, the call could not
    // end before the last piece plus a whole budget (2.9 + 3.8 s).
    ASSERT_TRUE(peer_.Send(kLink, {0x01, 0x02, 0x03}, 0));
    ASSERT_TRUE(peer_.Send(kLink, {0x04, 0x05}, 1500));
    ASSERT_TRUE(peer_.Send(kLink, {0x06, 0x07, 0x08, 0x09}, 2900));
    std::uint8_t buf[64] = {};
    const auto start = Clock::now();
    const int got = ReadSerialReply(port_, buf, 64);
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 9);
    EXPECT_EQ(test::ToHex(Bytes(buf, buf + 9)), test::ToHex(Sequence(9)));
    EXPECT_GE(ms, 2900) << "returned before the last piece, after " << ms << " ms";
    EXPECT_LT(ms, 2900 + 3000) << "took " << ms << " ms: the pieces refilled the budget";
    std::printf("[figure] 9 bytes in 3 pieces (0, 1.5, 2.9 s), 64-byte read: %lld ms\n", ms);
}

TEST_F(SerialPortTest, BytesWaitingBeforeAWriteAreDiscarded) {
    Open();
    ASSERT_TRUE(peer_.Send(kLink, {0xAA, 0xBB, 0xCC}));  // a late answer to an earlier command
    Sleep(100);
    const Bytes frame = {0x1D, 0x46, 0x7C, 0x04};
    ASSERT_TRUE(WriteSerialFrame(port_, frame.data(), static_cast<int>(frame.size())));
    const auto arrived = peer_.Read(kLink, 4, 2000);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(test::ToHex(*arrived), test::ToHex(frame));
    const Bytes answer = Sequence(64, 0x40);
    ASSERT_TRUE(peer_.Send(kLink, answer));
    std::uint8_t buf[64] = {};
    ASSERT_EQ(ReadSerialReply(port_, buf, 64), 64);
    EXPECT_EQ(test::ToHex(Bytes(buf, buf + 64)), test::ToHex(answer)) << "stale bytes survived the write's purge";
}

TEST(SerialPortHigh, Com12OpensThroughTheDeviceNamespace) {
    PeerClient peer;
    std::string why;
    ASSERT_TRUE(peer.Connect(why)) << why;
    ASSERT_FALSE(peer.Link(kHighLink).empty());
    // The plain name does not reach the device: that is why the mend exists.
    HANDLE plain = CreateFileA(kHighPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(plain, INVALID_HANDLE_VALUE) << "\"COM12:\" opened by its plain name";
    if (plain != INVALID_HANDLE_VALUE) CloseHandle(plain);

    HANDLE port = OpenSerialPort(kHighPort, 115200);
    ASSERT_TRUE(IsPortOpen(port)) << "OpenSerialPort(\"COM12:\") failed, error " << GetLastError();
    const auto line = peer.Termios(kHighLink);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->speed, 115200);
    const Bytes frame = {0x1D, 0x46, 0x01};
    EXPECT_TRUE(WriteSerialFrame(port, frame.data(), 3));
    const auto got = peer.Read(kHighLink, 3, 2000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(test::ToHex(*got), "1D4601");
    CloseSerialPort(port);
    peer.Unlink(kHighLink);
}

}  // namespace
}  // namespace morvane
