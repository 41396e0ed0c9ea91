// What the user sees when the printer, the line or the port library
// misbehaves, and that the program still works afterwards: each fault is
// followed by a Set that must succeed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "printer_fixture.h"

using namespace e2e;
using vprinter::Behaviour;
using Clock = std::chrono::steady_clock;

namespace {

class FaultTest : public PrinterTest {
protected:
    // After a fault, the next Set over the same port works.
    void ExpectStillWorks() {
        app_->Select(kBeepList, 1);
        EXPECT_EQ(ClickForMessage(kSetBeep), kSetSuccess) << "the Set after the fault";
        EXPECT_EQ(LastFrame(), "1d 46 79 01");
    }
};

}  // namespace

TEST_F(FaultTest, SilenceEndsInNoAnswerAfterSixReads) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::Silent());
    auto t0 = Clock::now();
    EXPECT_EQ(ClickForMessage(kSetDarkness, 90000), kNoAnswer);
    double took = Seconds(Clock::now() - t0);
    std::printf("figure: silent printer, click to \"Printer No Answer!\": %.1f s\n", took);
    // Six reads of about 3.8 s and four waits of 1.5 s; five reads would be 23.5 s.
    EXPECT_GT(took, 26.0);
    EXPECT_LT(took, 60.0);
    ExpectStillWorks();
}

TEST_F(FaultTest, AnAnswerCutOffHalfwayIsNoAnswer) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::Truncated(2));
    EXPECT_EQ(ClickForMessage(kSetDarkness), kNoAnswer);
    ExpectStillWorks();
}

TEST_F(FaultTest, StrayBytesBeforeTheAnswerAreNoAnswer) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::Stray());
    EXPECT_EQ(ClickForMessage(kSetDarkness), kNoAnswer);
    ExpectStillWorks();
}

TEST_F(FaultTest, ALateAnswerWaitingBeforeTheNextCommandIsDiscarded) {
    Morvane& app = Start();
    app.OpenPort(0);
    // The answer to an earlier command, a failure, turns up after it was given up.
    printer_->SendRaw({0x1D, 0x46, 0x7C, 0xFF});
    ASSERT_TRUE(printer_->WaitForIdle(2000));
    app.Select(kDarknessList, 2);
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
    EXPECT_EQ(LastFrame(), "1d 46 7c 03");
}

TEST_F(FaultTest, ALateAnswerArrivingDuringTheNextCommandIsNoAnswer) {
    Morvane& app = Start();
    app.OpenPort(0);
    // The printer answers the previous command just after this one was sent.
    printer_->QueueBehaviour(Behaviour::Stray({0x1D, 0x46, 0x7B, 0x00}));
    EXPECT_EQ(ClickForMessage(kSetDarkness), kNoAnswer);
    ExpectStillWorks();
}

TEST_F(FaultTest, AStatusReplyOfTheWrongLengthIsNoAnswer) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::WrongLength(1));
    EXPECT_EQ(ClickForMessage(kSetDarkness), kNoAnswer);
    ExpectStillWorks();
}

TEST_F(FaultTest, AValueReplyOfLengthZeroEmptiesTheField) {
    Morvane& app = Start();
    app.OpenPort(0);
    app.SetText(kNameEdit, "old");
    printer_->QueueBehaviour(Behaviour::ValueLength(0));
    app.Click(kReadName);
    app.Sync();
    EXPECT_EQ(app.Text(kNameEdit), "");
    EXPECT_TRUE(app.NoMessageFor(300));
    ExpectStillWorks();
}

TEST_F(FaultTest, AValueReplyOfLength255FillsAtMost39Bytes) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::ValueLength(255, /*padValue=*/true));
    app.Click(kReadName);
    app.Sync();
    // The stored name padded to 255 bytes; only the first 39 reach the field.
    EXPECT_EQ(app.Text(kNameEdit), "VirtualPrinter" + std::string(39 - 14, 'A'));
    ExpectStillWorks();
}

TEST_F(FaultTest, TheLineHangingUpMidExchange) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(Behaviour::Hangup(200, 500));
    std::string message = ClickForMessage(kSetDarkness, 90000);
    EXPECT_TRUE(message == kNoAnswer || message == kSendFail) << message;
    EXPECT_TRUE(app_->Proc().Running());
    // The printer is back on a new line: close and open again, and go on.
    app.Click(kOpenButton);
    app.Sync();
    EXPECT_EQ(app.Text(kOpenButton), "Open");
    app.OpenPort(0);
    ExpectStillWorks();
}

TEST_F(FaultTest, AnEmptyPortNameGoesToThePortLibraryQuietly) {
    // One COM port reported: the port list starts with nothing chosen.
    folder_ = std::make_unique<RunFolder>(RunFolder::Library::Real);
    app_ = std::make_unique<Morvane>(*folder_);
    ASSERT_TRUE(app_->Started());
    if (app_->CurSel(kPortList) != -1) app_->Select(kPortList, -1);
    ASSERT_EQ(app_->Text(kPortList), "");
    app_->Click(kSetDarkness);
    app_->Sync();
    EXPECT_TRUE(app_->NoMessageFor(300)) << "a failed send through the library ends quietly";
    EXPECT_TRUE(printer_->Frames().empty());
    app_->OpenPort(0);
    ExpectStillWorks();
}

TEST_F(FaultTest, ALibraryReadingMoreThanAskedIsHeldToTheMaximum) {
    Morvane& app = Start(
        RunFolder::Library::Fake,
        {{"MORVANE_FAKE_COUNTS", "2,1,0"}, {"MORVANE_FAKE_REPLY", "1d467c00"}, {"MORVANE_FAKE_READ_RESULT", "100000"}});
    app.Select(kPortList, 255);
    // 100000 bytes claimed for a read of 4: taken as 4, the reply stands.
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
    app.Click(kReadName);
    app.Sync();
    EXPECT_TRUE(app.Proc().Running());
    EXPECT_EQ(app.Text(kNameEdit), "") << "the reply's text is zero bytes long";
}

TEST_F(FaultTest, ATextLongerThan20BytesAfterARead) {
    printer_->SetName("A-name-of-thirty-bytes-long-xy");
    Morvane& app = Start();
    app.OpenPort(0);
    app.Click(kReadName);
    app.Sync();
    ASSERT_EQ(app.Text(kNameEdit), "A-name-of-thirty-bytes-long-xy");
    // The store step refuses the long text with the framework's own message,
    // and the Set then sends the stored text cut to 20 bytes.
    app.Click(kSetName);
    EXPECT_EQ(app.TakeMessage(20000), "Morvane|请输入不多于 20 个的字符。");
    EXPECT_EQ(app.TakeMessage(20000), kSetSuccess);
    EXPECT_EQ(LastFrame(), "1d 46 72 14 41 2d 6e 61 6d 65 2d 6f 66 2d 74 68 69 72 74 79 2d 62 79 74");
    ExpectStillWorks();
}
