// The virtual printer over a real pseudo-terminal: what it stores, what it
// answers, and how it copes with what arrives on its line.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "pty_client.h"
#include "virtual_printer.h"

namespace {

using vprinter::Bytes;
using vprinter::Settings;
using vprinter::VirtualPrinter;
using vprinter_test::Hex;
using vprinter_test::PtyClient;

constexpr int kReplyWaitMs = 2000;

std::filesystem::path MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vprinter-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    return made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
}

class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(printer_.Start(&error)) << error;
        ASSERT_TRUE(client_.Open(printer_.SlavePath())) << "cannot open " << printer_.SlavePath();
    }
    void TearDown() override {
        client_.Close();
        printer_.Stop();
    }
    Bytes Exchange(const Bytes& frame, std::size_t replyBytes) {
        EXPECT_TRUE(client_.Write(frame)) << "write " << Hex(frame);
        return client_.ReadUpTo(replyBytes, kReplyWaitMs);
    }

    std::ostringstream log_;  // read only after Stop()
    VirtualPrinter printer_{&log_};
    PtyClient client_;
};

struct StoreCase {
    const char* what;
    Bytes frame;
    const char* reply;
    std::function<int(const Settings&)> get;
    int expected;
};

TEST_F(PrinterTest, StoresEverySettingAndAnswersIt) {
    const StoreCase cases[] = {
        {"visibility", {0x1D, 0x46, 0x73, 1}, "1D 46 73 00", [](const Settings& s) { return s.visibility; }, 1},
        {"baud", {0x1D, 0x46, 0x78, 7}, "1D 46 78 00", [](const Settings& s) { return s.baudRate; }, 7},
        {"beeper", {0x1D, 0x46, 0x79, 1}, "1D 46 79 00", [](const Settings& s) { return s.beeper; }, 1},
        {"sleep", {0x1D, 0x46, 0x7A, 120}, "1D 46 7A 00", [](const Settings& s) { return s.sleepTime; }, 120},
        {"chinese", {0x1D, 0x46, 0xAA}, "1D 46 AA 00", [](const Settings& s) { return s.chineseCode; }, 0xAA},
        {"darkness", {0x1D, 0x46, 0x7C, 4}, "1D 46 7C 00", [](const Settings& s) { return s.darkness; }, 4},
        {"mark", {0x1D, 0x46, 0x7D, 6}, "1D 46 7D 00", [](const Settings& s) { return s.markSensitivity; }, 6},
        {"gap", {0x1D, 0x46, 0x7E, 2}, "1D 46 7E 00", [](const Settings& s) { return s.gapSensitivity; }, 2},
        {"bt mode", {0x1D, 0x46, 0x7F, 1}, "1D 46 7F 00", [](const Settings& s) { return s.btMode; }, 1},
        {"position",
         {0x1D, 0x46, 0x82, 0x80, 0, 0, 0, 0x1C},
         "1D 46 82 00",
         [](const Settings& s) { return s.position; },
         -28},
        {"language", {0x1D, 0x46, 0x7B, 0}, "1D 46 7B 00", [](const Settings& s) { return s.language; }, 0},
        {"sensor", {0x1D, 0x46, 0x86, 3}, "1D 46 86 00", [](const Settings& s) { return s.paperSensor; }, 3},
        {"cmd set", {0x1D, 0x46, 0x87, 1}, "1D 46 87 00", [](const Settings& s) { return s.commandSet; }, 1},
        {"width", {0x1D, 0x46, 0x88, 4}, "1D 46 88 00", [](const Settings& s) { return s.paperWidth; }, 4},
        {"darkness out of range",
         {0x1D, 0x46, 0x7C, 9},
         "1D 46 7C FF",
         [](const Settings& s) { return s.darkness; },
         4},
        {"position out of range",
         {0x1D, 0x46, 0x82, 0x00, 0, 0, 1, 0x2C},
         "1D 46 82 FF",
         [](const Settings& s) { return s.position; },
         -28},
    };
    for (const auto& c : cases) {
        const Bytes reply = Exchange(c.frame, 4);
        EXPECT_EQ(Hex(reply), c.reply) << c.what;
        const Settings settings = printer_.GetSettings();
        EXPECT_EQ(c.get(settings), c.expected) << c.what;
        EXPECT_TRUE(settings.WasSet(c.frame[2])) << c.what;
    }
}

TEST_F(PrinterTest, TextsSetAndReadBack) {
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x72, 4, 'S', 'h', 'o', 'p'}, 4)), "1D 46 72 00");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x72, 0x00}, 8)), "1D 46 72 04 53 68 6F 70");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x77, 5, '4', '3', '2', '1', 0x0D}, 4)), "1D 46 77 00");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x77, 0x00}, 8)), "1D 46 77 04 34 33 32 31");
    printer_.SetAddress("AB");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x74}, 6)), "1D 46 74 02 41 42");
    const Settings s = printer_.GetSettings();
    EXPECT_EQ(s.name, "Shop");
    EXPECT_EQ(s.password, "4321");
}

TEST_F(PrinterTest, TextsLongerThanTheFieldsComeFromTheApi) {
    const std::string name(30, 'N');
    printer_.SetName(name);
    const Bytes reply = Exchange({0x1D, 0x46, 0x72, 0x00}, 4 + 30);
    ASSERT_EQ(reply.size(), 34u) << Hex(reply);
    EXPECT_EQ(reply[3], 30);
    EXPECT_EQ(std::string(reply.begin() + 4, reply.end()), name);

    printer_.SetPassword("");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x77, 0x00}, 4)), "1D 46 77 00");
}

TEST_F(PrinterTest, UnknownCodeIsRefusedAfterOneArgumentByte) {
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x30, 0x01}, 4)), "1D 46 30 FF");
    // Still in step: the next frame is read as a frame.
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x7C, 0x02}, 4)), "1D 46 7C 00");
}

TEST_F(PrinterTest, SkipsGarbageBeforeTheHeader) {
    const Bytes bytes = {0x00, 0x1D, 0x00, 0x46, 0xFF, 0x1D, 0x1D, 0x46, 0x7C, 0x02};
    EXPECT_EQ(Hex(Exchange(bytes, 4)), "1D 46 7C 00");
    EXPECT_EQ(printer_.BytesDiscarded(), 6u);
    EXPECT_EQ(printer_.GetSettings().darkness, 2);
    const auto frames = printer_.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Hex(frames[0]), "1D 46 7C 02");
}

TEST_F(PrinterTest, DropsAFrameCutOffBySilence) {
    ASSERT_TRUE(client_.Write({0x1D, 0x46, 0x72, 0x05, 'a', 'b'}));
    EXPECT_EQ(Hex(client_.ReadFor(vprinter::kSilenceMs + 300)), "(nothing)");
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x7C, 0x05}, 4)), "1D 46 7C 00");
    EXPECT_EQ(printer_.PartialFramesDropped(), 1u);
    EXPECT_EQ(printer_.GetSettings().name, Settings{}.name);
    EXPECT_EQ(printer_.GetSettings().darkness, 5);
}

TEST_F(PrinterTest, JoinsAFrameArrivingInPieces) {
    ASSERT_TRUE(client_.Write({0x1D, 0x46}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(client_.Write({0x82, 0x00, 0x00}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Hex(Exchange({0x00, 0x00, 0x0A}, 4)), "1D 46 82 00");
    EXPECT_EQ(printer_.GetSettings().position, 10);
}

TEST_F(PrinterTest, AnswersFramesSentBackToBack) {
    const Bytes both = {0x1D, 0x46, 0x79, 0x01, 0x1D, 0x46, 0x74};
    const Bytes reply = Exchange(both, 8);
    ASSERT_GE(reply.size(), 8u) << Hex(reply);
    EXPECT_EQ(Hex(Bytes(reply.begin(), reply.begin() + 4)), "1D 46 79 00");
    EXPECT_EQ(Hex(Bytes(reply.begin() + 4, reply.begin() + 7)), "1D 46 74");
    ASSERT_TRUE(printer_.WaitForFrames(2, kReplyWaitMs));
    EXPECT_EQ(printer_.Frames().size(), 2u);
}

TEST_F(PrinterTest, SurvivesTheOtherEndClosingAndReopening) {
    const std::string path = printer_.SlavePath();
    for (int round = 0; round < 3; ++round) {
        client_.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(client_.Open(path)) << "round " << round;
        EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x7C, 0x03}, 4)), "1D 46 7C 00") << "round " << round;
    }
    EXPECT_TRUE(printer_.IsOpen());
    EXPECT_EQ(printer_.HangupCount(), 0u);
}

TEST_F(PrinterTest, StaysBoundedUnderAFlood) {
    const Bytes flood(100000, 0x00);
    ASSERT_TRUE(client_.Write(flood));
    // The longest frame there is, cut off before its end.
    Bytes cut = {0x1D, 0x46, 0x72, 0xFF};
    cut.resize(200, 'x');
    ASSERT_TRUE(client_.Write(cut));
    std::this_thread::sleep_for(std::chrono::milliseconds(vprinter::kSilenceMs + 200));
    EXPECT_EQ(Hex(Exchange({0x1D, 0x46, 0x7C, 0x01}, 4)), "1D 46 7C 00");
    EXPECT_EQ(printer_.BytesDiscarded(), flood.size() + cut.size());
    EXPECT_EQ(printer_.PartialFramesDropped(), 1u);
    EXPECT_EQ(printer_.GetSettings().darkness, 1);
}

TEST_F(PrinterTest, RecordsFramesAndReplies) {
    EXPECT_FALSE(printer_.WaitForFrames(1, 100)) << "a frame seen before any was sent";
    Exchange({0x1D, 0x46, 0x7C, 0x02}, 4);
    Exchange({0x1D, 0x46, 0x74}, 4 + Settings{}.address.size());
    ASSERT_TRUE(printer_.WaitForFrames(2, kReplyWaitMs));
    const auto frames = printer_.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex(frames[0]), "1D 46 7C 02");
    EXPECT_EQ(Hex(frames[1]), "1D 46 74");
    const auto replies = printer_.Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(Hex(replies[0]), "1D 46 7C 00");
    printer_.ClearFrames();
    EXPECT_TRUE(printer_.Frames().empty());
    EXPECT_TRUE(printer_.Replies().empty());
}

TEST_F(PrinterTest, KeepsTheLatestRecordsAndEveryAnswerOfABurst) {
    const std::size_t count = VirtualPrinter::kMaxRecorded + 4;
    Bytes burst;
    for (std::size_t i = 0; i < count; ++i) burst.insert(burst.end(), {0x1D, 0x46, 0x79, 0x01});
    ASSERT_TRUE(client_.Write(burst));
    ASSERT_TRUE(printer_.WaitForFrames(count, 10000)) << "got " << printer_.FrameCount();
    EXPECT_EQ(printer_.Frames().size(), VirtualPrinter::kMaxRecorded);
    EXPECT_EQ(printer_.Replies().size(), VirtualPrinter::kMaxRecorded);
    // More answers than the terminal buffers: the rest waits its turn.
    const Bytes replies = client_.ReadUpTo(4 * count, 10000);
    ASSERT_EQ(replies.size(), 4 * count);
    EXPECT_EQ(Hex(Bytes(replies.end() - 4, replies.end())), "1D 46 79 00");
    printer_.ClearFrames();
    EXPECT_EQ(printer_.FrameCount(), 0u);
}

TEST_F(PrinterTest, SendRawPutsBytesOnTheLine) {
    printer_.SendRaw({0x1D, 0x46, 0x7C, 0x00, 0x42});
    EXPECT_EQ(Hex(client_.ReadUpTo(5, kReplyWaitMs)), "1D 46 7C 00 42");
    EXPECT_TRUE(printer_.WaitForIdle(kReplyWaitMs));
}

TEST_F(PrinterTest, LogsFramesAndRepliesInHex) {
    Exchange({0x1D, 0x46, 0x7C, 0x04}, 4);
    ASSERT_TRUE(printer_.WaitForIdle(kReplyWaitMs));
    printer_.Stop();
    const std::string log = log_.str();
    EXPECT_NE(log.find("rx 1D 46 7C 04"), std::string::npos) << log;
    EXPECT_NE(log.find("tx 1D 46 7C 00"), std::string::npos) << log;
    EXPECT_NE(log.find("open /dev/"), std::string::npos) << log;
}

TEST(PrinterLifecycle, StartsOnceStopsTwice) {
    VirtualPrinter printer;
    EXPECT_EQ(printer.SlavePath(), "");
    std::string error;
    ASSERT_TRUE(printer.Start(&error)) << error;
    EXPECT_TRUE(printer.IsRunning());
    EXPECT_FALSE(printer.Start(&error)) << "second Start() accepted";
    EXPECT_TRUE(std::filesystem::exists(printer.SlavePath())) << printer.SlavePath();
    printer.Stop();
    printer.Stop();
    EXPECT_FALSE(printer.IsRunning());
    std::string reopenError;
    EXPECT_FALSE(printer.Reopen(&reopenError)) << "reopen after Stop() accepted";
}

TEST(PrinterLifecycle, LinksFollowThePrinterAndGoAtStop) {
    const auto dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    const auto early = dir / "com1";
    const auto late = dir / "lpt1";
    VirtualPrinter printer;
    std::string error;
    ASSERT_TRUE(printer.AddLink(early.string(), &error)) << error;
    ASSERT_TRUE(printer.Start(&error)) << error;
    // A stale link from an earlier run is replaced.
    std::filesystem::create_symlink("/nonexistent", late);
    ASSERT_TRUE(printer.AddLink(late.string(), &error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(early).string(), printer.SlavePath());
    EXPECT_EQ(std::filesystem::read_symlink(late).string(), printer.SlavePath());

    PtyClient client;
    ASSERT_TRUE(client.Open(early.string()));
    ASSERT_TRUE(client.Write({0x1D, 0x46, 0x79, 0x00}));
    EXPECT_EQ(Hex(client.ReadUpTo(4, kReplyWaitMs)), "1D 46 79 00");

    const std::string before = printer.SlavePath();
    ASSERT_TRUE(printer.Reopen(&error)) << error;
    EXPECT_NE(printer.SlavePath(), before) << "reopen kept the old terminal";
    EXPECT_EQ(std::filesystem::read_symlink(early).string(), printer.SlavePath());
    client.Close();

    printer.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(early)) << early;
    EXPECT_FALSE(std::filesystem::is_symlink(late)) << late;
    std::filesystem::remove_all(dir);
}

TEST(PrinterLifecycle, AddLinkReportsAFolderThatIsNotThere) {
    VirtualPrinter printer;
    std::string error;
    ASSERT_TRUE(printer.Start(&error)) << error;
    EXPECT_FALSE(printer.AddLink("/nonexistent-folder/com1", &error));
    EXPECT_NE(error.find("com1"), std::string::npos) << error;
}

}  // namespace
