// The journal: what a reader makes of lines a crash cut short and of lines
// that are not ours, and numbers that two stations on one file never share.
#include "cli/journal/journal.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "cli/text/utc_time.h"

namespace {

using namespace morvane::cli;
namespace fs = std::filesystem;

const std::string kClaim7 = R"({"v":1,"type":"claim","n":7,"port":"/dev/ttyUSB0"})";
const std::string kJob7 = R"({"v":1,"type":"job","n":7,"port":"/dev/ttyUSB0","bt_address":"00:11","result":"ok"})";

TEST(Journal, ReadersSkipLinesCutShortAndRefuseLinesNotOurs) {
    const struct {
        const char* name;
        std::string text;
        bool ours;
        std::size_t records;
        std::size_t torn;
        bool endsInLine;
        const char* says;
    } cases[] = {
        {"two records", kClaim7 + "\n" + kJob7 + "\n", true, 2, 0, true, ""},
        {"cut at the end", kClaim7 + "\n" + kJob7.substr(0, 30), true, 1, 0, false, ""},
        {"cut, then a record on its own line", kJob7.substr(0, 30) + "\n" + kClaim7 + "\n", true, 1, 1, true, ""},
        {"another program's JSON", kClaim7 + "\n{\"name\":\"x\"}\n", false, 0, 0, true, "line 2"},
        {"another version",
         R"({"v":2,"type":"job"})"
         "\n",
         false, 0, 0, true, "line 1"},
        {"not JSON at all", "date,printer\n", false, 0, 0, true, "line 1"},
        {"broken in the middle, not cut", "{\"v\":1,,}\n" + kClaim7 + "\n", false, 0, 0, true, "line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JournalScan scan;
        std::vector<JournalEntry> entries;
        std::string error;
        ASSERT_EQ(ScanJournal(c.text, 1, &scan, &entries, &error), c.ours) << error;
        if (!c.ours) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(scan.records, c.records);
        EXPECT_EQ(scan.torn, c.torn);
        EXPECT_EQ(scan.endsInLine, c.endsInLine);
        EXPECT_EQ(scan.highest, 7);
    }
}

class JournalFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (fs::temp_directory_path() / ("morvane-journal-" + std::to_string(getpid()))).string();
        fs::remove(path_);
    }
    void TearDown() override { fs::remove(path_); }
    std::string Text() {
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string path_;
};

TEST_F(JournalFileTest, TwoStationsOnOneFileNeverClaimTheSameNumber) {
    std::string error;
    auto a = Journal::Open(path_, &error);
    auto b = Journal::Open(path_, &error);
    ASSERT_TRUE(a && b) << error;
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    std::vector<long long> numbers[2];
    const auto station = [&](Journal& j, std::vector<long long>* got) {
        for (int i = 0; i < 50; ++i) {
            long long n = 0;
            ASSERT_TRUE(j.Claim(1, "/dev/ttyUSB0", &n, &error)) << error;
            got->push_back(n);
        }
    };
    std::thread first(station, std::ref(*a), &numbers[0]);
    std::thread second(station, std::ref(*b), &numbers[1]);
    first.join();
    second.join();
    std::set<long long> all(numbers[0].begin(), numbers[0].end());
    all.insert(numbers[1].begin(), numbers[1].end());
    EXPECT_EQ(all.size(), 100u);
    EXPECT_EQ(*all.rbegin(), 100);

    // A station started later goes on from the highest, or from --start.
    long long n = 0;
    ASSERT_TRUE(Journal::Open(path_, &error)->Claim(500, "/dev/ttyUSB1", &n, &error)) << error;
    EXPECT_EQ(n, 500);
    ASSERT_TRUE(Journal::Open(path_, &error)->Claim(1, "/dev/ttyUSB1", &n, &error)) << error;
    EXPECT_EQ(n, 501);
}

TEST_F(JournalFileTest, ARecordAfterALineCutShortStartsOnALineOfItsOwn) {
    std::ofstream(path_) << kClaim7 << "\n" << kJob7.substr(0, 25);
    std::string error;
    auto journal = Journal::Open(path_, &error);
    ASSERT_TRUE(journal) << error;
    EXPECT_EQ(journal->TornLines(), 1u) << "a line cut short at the end, seen at once";
    long long n = 0;
    ASSERT_TRUE(journal->Claim(1, "/dev/ttyUSB0", &n, &error)) << error;
    EXPECT_EQ(n, 8);
    const std::string text = Text();
    EXPECT_NE(text.find(kJob7.substr(0, 25) + "\n{\"v\":1,\"type\":\"claim\",\"n\":8,"), std::string::npos) << text;
    JournalScan scan;
    ASSERT_TRUE(ScanJournal(text, 1, &scan, nullptr, &error)) << error;
    EXPECT_EQ(scan.records, 2u);
    EXPECT_EQ(scan.torn, 1u);

    std::ofstream(path_, std::ios::app) << "{\"name\":\"not ours\"}\n";
    EXPECT_FALSE(Journal::Open(path_, &error));
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
}

TEST(UtcTime, Iso8601WithMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    // The last millisecond of a leap day.
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{milliseconds(1709251199999)}), "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{milliseconds(4102444800000)}), "2100-01-01T00:00:00.000Z");
}

}  // namespace
