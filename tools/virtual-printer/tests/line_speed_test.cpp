// The printer as a UART: answers at the wire's pace, deaf at a wrong speed,
// and moving to the speed a baud setting names once it has answered.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "pty_client.h"
#include "virtual_printer.h"

namespace {

using vprinter::Bytes;
using vprinter::LineOptions;
using vprinter::VirtualPrinter;
using vprinter_test::Hex;
using vprinter_test::PtyClient;

using Clock = std::chrono::steady_clock;
constexpr int kReplyWaitMs = 2000;
const Bytes kSetDarkness = {0x1D, 0x46, 0x7C, 0x04};

bool Eventually(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class LineSpeedTest : public ::testing::Test {
protected:
    void Begin(const LineOptions& options, long lineSpeed) {
        printer_.SetLineOptions(options);
        std::string error;
        ASSERT_TRUE(printer_.Start(&error)) << error;
        ASSERT_TRUE(client_.Open(printer_.SlavePath()));
        ASSERT_TRUE(client_.SetSpeed(lineSpeed));
    }
    void TearDown() override {
        client_.Close();
        printer_.Stop();
    }
    Bytes Exchange(const Bytes& frame) {
        EXPECT_TRUE(client_.Write(frame));
        return client_.ReadUpTo(4, kReplyWaitMs);
    }

    VirtualPrinter printer_;
    PtyClient client_;
};

TEST_F(LineSpeedTest, PacesAtTheSpeedTheOtherEndSet) {
    // The printer's own speed is not what paces the wire: the line's is.
    Begin({.pace = true, .baud = 115200, .strictSpeed = false}, 2400);
    EXPECT_EQ(printer_.LineSpeed(), 2400);
    const auto sent = Clock::now();
    EXPECT_EQ(Hex(Exchange(kSetDarkness)), "1D 46 7C 00");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    // 4 bytes out and 4 back, 10 bits each at 2400 baud: 33 ms of wire.
    EXPECT_GE(ms, 30) << "faster than the wire";
    EXPECT_LT(ms, kReplyWaitMs);
}

TEST_F(LineSpeedTest, StrictSpeedHearsOnlyItsOwnSpeed) {
    Begin({.pace = false, .baud = 9600, .strictSpeed = true}, 19200);
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_TRUE(Eventually([&] { return printer_.BytesDiscarded() == kSetDarkness.size(); }, kReplyWaitMs))
        << "discarded " << printer_.BytesDiscarded();
    EXPECT_EQ(Hex(client_.ReadFor(200)), "(nothing)") << "answered at a wrong speed";
    EXPECT_EQ(printer_.FrameCount(), 0u);
    EXPECT_EQ(printer_.GetSettings().darkness, vprinter::Settings{}.darkness);

    ASSERT_TRUE(client_.SetSpeed(9600));
    EXPECT_EQ(Hex(Exchange(kSetDarkness)), "1D 46 7C 00");
    EXPECT_EQ(printer_.GetSettings().darkness, 4);
}

TEST_F(LineSpeedTest, BaudSettingSwitchesAfterItsReply) {
    Begin({.pace = true, .baud = 9600, .strictSpeed = true}, 9600);
    // Value 4 is 19200; the status reply still comes at 9600.
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x78, 0x04})), "1D 46 78 00");
    EXPECT_TRUE(Eventually([&] { return printer_.CurrentBaud() == 19200; }, kReplyWaitMs))
        << "still at " << printer_.CurrentBaud();
    // A refused value leaves the speed alone.
    ASSERT_TRUE(client_.SetSpeed(19200));
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x78, 0x09})), "1D 46 78 FF");
    EXPECT_EQ(Hex(Exchange(kSetDarkness)), "1D 46 7C 00");
    EXPECT_EQ(printer_.CurrentBaud(), 19200);

    ASSERT_TRUE(client_.SetSpeed(9600));
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_EQ(Hex(client_.ReadFor(200)), "(nothing)") << "still hears the old speed";
}

}  // namespace
