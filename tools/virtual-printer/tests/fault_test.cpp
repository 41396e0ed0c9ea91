// Misbehaviour as the other end of the line sees it: the worker keeps the
// shaper's times, the queue's order and the line's hang-ups.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "pty_client.h"
#include "virtual_printer.h"

namespace {

using vprinter::Behaviour;
using vprinter::Bytes;
using vprinter::VirtualPrinter;
using vprinter_test::Hex;
using vprinter_test::PtyClient;

constexpr int kReplyWaitMs = 2000;
const Bytes kSetDarkness = {0x1D, 0x46, 0x7C, 0x04};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        printer_.SetName("Kiosk");
        std::string error;
        ASSERT_TRUE(printer_.Start(&error)) << error;
        ASSERT_TRUE(client_.Open(printer_.SlavePath()));
    }
    void TearDown() override {
        client_.Close();
        printer_.Stop();
    }
    // The printer's answer to one frame: `count` bytes, or what came in time.
    Bytes Answer(const Bytes& frame, std::size_t count = 4) {
        EXPECT_TRUE(client_.Write(frame));
        return client_.ReadUpTo(count, kReplyWaitMs);
    }

    VirtualPrinter printer_;
    PtyClient client_;
};

TEST_F(FaultTest, FaultsLeaveTheFrameApplied) {
    printer_.QueueBehaviour(Behaviour::AnswerFF());
    EXPECT_EQ(Hex(Answer({0x1D, 0x46, 0x7C, 0x02})), "1D 46 7C FF");
    EXPECT_EQ(printer_.GetSettings().darkness, 2);
}

TEST_F(FaultTest, SilentSendsNothing) {
    printer_.QueueBehaviour(Behaviour::Silent());
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_EQ(Hex(client_.ReadFor(300)), "(nothing)");
    EXPECT_EQ(printer_.GetSettings().darkness, 4);
    EXPECT_TRUE(printer_.Replies().empty());
    // The next frame is answered again.
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C 00");
}

TEST_F(FaultTest, PiecesLeaveAtTheirTimes) {
    printer_.QueueBehaviour(Behaviour::Pieces(1, 300));
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_EQ(Hex(client_.ReadUpTo(1, kReplyWaitMs)), "1D");
    EXPECT_EQ(Hex(client_.ReadFor(100)), "(nothing)") << "no pause after the first piece";
    EXPECT_EQ(Hex(client_.ReadUpTo(3, 3000)), "46 7C 00");
}

TEST_F(FaultTest, LateAnswerArrivesDuringTheNextExchange) {
    printer_.QueueBehaviour(Behaviour::Late(800));
    ASSERT_TRUE(client_.Write(kSetDarkness));
    ASSERT_TRUE(client_.Write({0x1D, 0x46, 0x79, 0x01}));
    // The second frame's answer is not held back by the first one's.
    EXPECT_EQ(Hex(client_.ReadUpTo(4, kReplyWaitMs)), "1D 46 79 00");
    EXPECT_EQ(Hex(client_.ReadUpTo(4, 3000)), "1D 46 7C 00");
}

TEST_F(FaultTest, QueueComesFirstThenTheRunBehaviour) {
    printer_.SetBehaviour(Behaviour::AnswerFF());
    printer_.QueueBehaviour(Behaviour::Stray({0x42}));
    printer_.QueueBehaviour(Behaviour::Prefix11());
    EXPECT_EQ(printer_.QueuedBehaviours(), 2u);
    EXPECT_EQ(Hex(Answer(kSetDarkness, 5)), "42 1D 46 7C 00");
    EXPECT_EQ(Hex(Answer(kSetDarkness, 5)), "11 1D 46 7C 00");
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C FF");
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C FF");
    printer_.ClearBehaviours();
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C 00");
}

TEST_F(FaultTest, HangupClosesTheLineUntilReopened) {
    printer_.QueueBehaviour(Behaviour::Hangup());
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_TRUE(client_.SeesHangup(kReplyWaitMs)) << "the other end did not see the line hang up";
    EXPECT_FALSE(printer_.IsOpen());
    EXPECT_EQ(printer_.HangupCount(), 1u);
    ASSERT_TRUE(printer_.WaitForFrames(1, kReplyWaitMs));

    const std::string old = printer_.SlavePath();
    std::string error;
    ASSERT_TRUE(printer_.Reopen(&error)) << error;
    EXPECT_TRUE(printer_.IsOpen());
    EXPECT_NE(printer_.SlavePath(), old) << "came back on the terminal that hung up";
    ASSERT_TRUE(client_.Open(printer_.SlavePath()));
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C 00");
}

TEST_F(FaultTest, HangupDropsAnAnswerStillOnItsWay) {
    printer_.QueueBehaviour(Behaviour::Late(1500));
    ASSERT_TRUE(client_.Write(kSetDarkness));
    ASSERT_TRUE(printer_.WaitForFrames(1, kReplyWaitMs));
    printer_.Hangup();
    EXPECT_FALSE(printer_.IsOpen());
    EXPECT_TRUE(client_.SeesHangup(kReplyWaitMs));
    EXPECT_TRUE(printer_.WaitForIdle(kReplyWaitMs)) << "the late answer is still scheduled";
}

TEST_F(FaultTest, HangupComesBackByItselfAndMovesTheLinks) {
    const auto dir = std::filesystem::temp_directory_path() / ("vprinter-fault-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "com1";
    std::string error;
    ASSERT_TRUE(printer_.AddLink(link.string(), &error)) << error;
    const std::string old = printer_.SlavePath();

    printer_.SetBehaviour(Behaviour::Hangup(100, 200));
    ASSERT_TRUE(client_.Write(kSetDarkness));
    EXPECT_TRUE(client_.SeesHangup(kReplyWaitMs));
    bool back = false;
    for (int i = 0; i < 100 && !back; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        back = printer_.IsOpen() && printer_.SlavePath() != old;
    }
    ASSERT_TRUE(back) << "no new terminal within 3 s";
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), printer_.SlavePath());

    printer_.ClearBehaviours();
    client_.Close();
    ASSERT_TRUE(client_.Open(link.string()));
    EXPECT_EQ(Hex(Answer(kSetDarkness)), "1D 46 7C 00");
    client_.Close();
    printer_.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    std::filesystem::remove_all(dir);
}

}  // namespace
