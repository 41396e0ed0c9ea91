// The serial port's bounded read, driven by a scripted device.
#include "protocol/read_budget.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace morvane {
namespace {

struct RecordingPause : Pause {
    std::vector<unsigned> sleeps;
    void Sleep(unsigned ms) override { sleeps.push_back(ms); }
};

// Each request delivers the next scripted piece (empty = nothing came).
struct ScriptedDevice {
    std::deque<std::string> pieces;
    std::vector<int> asked;
    int claimExtra = 0;  // report this many bytes more than were delivered

    int operator()(std::uint8_t* dest, int count) {
        asked.push_back(count);
        if (pieces.empty()) return 0;
        std::string piece = pieces.front();
        pieces.pop_front();
        const int n = std::min<int>(count, static_cast<int>(piece.size()));
        std::copy(piece.begin(), piece.begin() + n, dest);
        return n > 0 ? n + claimExtra : -1;  // an empty piece is a failed request
    }
};

int ReadFrom(ScriptedDevice& device, RecordingPause& pause, std::uint8_t* buf, int wanted) {
    return ReadWithBudget([&](std::uint8_t* d, int c) { return device(d, c); }, pause, buf, wanted);
}

TEST(ReadWithBudgetTest, NothingWantedMeansNoRequest) {
    for (int wanted : {0, -5}) {
        ScriptedDevice device;
        RecordingPause pause;
        std::uint8_t buf[8] = {};
        EXPECT_EQ(ReadFrom(device, pause, buf, wanted), -1) << "wanted " << wanted;
        EXPECT_TRUE(device.asked.empty());
        EXPECT_TRUE(pause.sleeps.empty());
    }
}

TEST(ReadWithBudgetTest, SilenceSpendsTheWholeBudget) {
    ScriptedDevice device;
    RecordingPause pause;
    std::uint8_t buf[64] = {};
    EXPECT_EQ(ReadFrom(device, pause, buf, 64), 0);
    EXPECT_EQ(device.asked.size(), 21u);
    EXPECT_EQ(pause.sleeps, std::vector<unsigned>(20, 20u));
}

TEST(ReadWithBudgetTest, ShortAnswerWaitsOutTheBudget) {
    ScriptedDevice device;
    device.pieces = {"ABCD"};
    RecordingPause pause;
    std::uint8_t buf[64] = {};
    EXPECT_EQ(ReadFrom(device, pause, buf, 64), 4);
    EXPECT_EQ(device.asked.size(), 22u) << "1 with bytes + 21 empty";
    EXPECT_EQ(pause.sleeps.size(), 20u);
    EXPECT_EQ(std::string(buf, buf + 4), "ABCD");
}

TEST(ReadWithBudgetTest, PiecesAssembledAndBudgetNotRefilled) {
    ScriptedDevice device;
    device.pieces = {"", "", "AB", "", "CDE"};
    RecordingPause pause;
    std::uint8_t buf[64] = {};
    EXPECT_EQ(ReadFrom(device, pause, buf, 64), 5);
    EXPECT_EQ(std::string(buf, buf + 5), "ABCDE");
    EXPECT_EQ(pause.sleeps.size(), 20u) << "empty requests between pieces use the one budget";
    EXPECT_EQ(device.asked.size(), 23u);
    EXPECT_EQ(device.asked[2], 64);
    EXPECT_EQ(device.asked[4], 62) << "asks only for the rest";
}

TEST(ReadWithBudgetTest, FullAnswerReturnsAtOnce) {
    ScriptedDevice device;
    device.pieces = {std::string(64, 'x')};
    RecordingPause pause;
    std::uint8_t buf[64] = {};
    EXPECT_EQ(ReadFrom(device, pause, buf, 64), 64);
    EXPECT_EQ(device.asked.size(), 1u);
    EXPECT_TRUE(pause.sleeps.empty());
}

TEST(ReadWithBudgetTest, OverclaimingDeviceCountsAsFull) {
    ScriptedDevice device;
    device.pieces = {"AB", "CD"};
    device.claimExtra = 100;
    RecordingPause pause;
    std::uint8_t buf[4] = {};
    EXPECT_EQ(ReadFrom(device, pause, buf, 4), 4);
    EXPECT_EQ(device.asked, (std::vector<int>{4})) << "a claim beyond the rest ends the read";
}

}  // namespace
}  // namespace morvane
