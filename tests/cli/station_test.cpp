// The station (`watch`) and its journal: printers plugged in one after
// another, together, again, pulled out mid-job; a station killed mid-job;
// two stations on one journal; a full disk; and `journal` reading it back.
// A "plug" is a link in a folder the station globs, to a virtual printer.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "cli_fixture.h"

namespace {

using namespace clitest;
namespace fs = std::filesystem;

constexpr int kBoundMs = 15000;  // for any one thing a test waits for
// Letters no path, process id, port or address holds by chance.
constexpr const char* kPassword = "Kq-Zv";

bool WaitFor(const std::function<bool()>& done, int ms = kBoundMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A station running in the background until Stop().
class StationRun {
public:
    StationRun(std::vector<std::string> args, int signal = SIGINT, std::function<bool()> killWhen = {}) {
        thread_ = std::thread([this, args, signal, killWhen] {
            RunOptions run;
            run.timeoutMs = 60000;
            run.signal = signal;
            run.signalWhen = [this, killWhen] { return stop_.load() || (killWhen && killWhen()); };
            result_ = RunCli(args, run);
        });
    }
    ~StationRun() { Stop(); }
    const CommandResult& Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return result_;
    }

private:
    std::atomic<bool> stop_{false};
    CommandResult result_;
    std::thread thread_;
};

class StationTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        dir_ = fs::temp_directory_path() / ("morvane-station-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "a");
        fs::create_directories(dir_ / "b");
        journal_ = (dir_ / "journal.jsonl").string();
        profile_ =
            WriteProfile("bt-name = \"Shop {n}\"\nbt-password = \"" + std::string(kPassword) + "{n}\"\ndarkness = 4\n");
    }
    void TearDown() override {
        fs::remove_all(dir_);
        CliTest::TearDown();
    }
    VirtualPrinter& NewPrinter(int i) {
        VirtualPrinter& p = i == 0 ? Printer() : AddPrinter();
        p.SetAddress("00:11:22:33:44:" + std::to_string(10 + i));
        return p;
    }
    std::string Plug(VirtualPrinter& p, const std::string& folder, const std::string& name) {
        const fs::path link = dir_ / folder / name;
        fs::create_symlink(p.SlavePath(), link);
        return link.string();
    }
    void Unplug(const std::string& folder, const std::string& name) { fs::remove(dir_ / folder / name); }
    std::vector<std::string> Watch(const std::string& folder, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {
            "watch",     "--profile", profile_, "--journal", journal_, "-p", (dir_ / folder / "*").string(),
            "--timeout", "500"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::vector<nlohmann::json> Records(const char* type) {
        std::vector<nlohmann::json> records;
        std::ifstream in(journal_);
        for (std::string line; std::getline(in, line);) {
            const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded() && j.value("type", "") == type) records.push_back(j);
        }
        return records;
    }
    std::size_t Jobs() { return Records("job").size(); }
    // Text without the test's folder, whose name is the machine's to choose.
    std::string BesidesFolder(std::string text) const {
        const std::string folder = dir_.string();
        for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at))
            text.erase(at, folder.size());
        return text;
    }

    fs::path dir_;
    std::string journal_;
    std::string profile_;
};

TEST_F(StationTest, EachPrinterIsDoneOnceWithANumberOfItsOwn) {
    std::vector<VirtualPrinter*> printers;
    for (int i = 0; i < 5; ++i) printers.push_back(&NewPrinter(i));
    StationRun station(Watch("a"));
    for (int i = 0; i < 3; ++i) {  // one after another
        Plug(*printers[i], "a", "p" + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return Jobs() == static_cast<std::size_t>(i + 1); })) << i;
    }
    Plug(*printers[3], "a", "p3");  // two at once
    Plug(*printers[4], "a", "p4");
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 5; }));
    Unplug("a", "p0");  // and the first again, once the station has seen it go
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Plug(*printers[0], "a", "p0");
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 6; }));
    const CommandResult& r = station.Stop();
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(r.Lines().size(), 6u) << r.out;

    std::set<long long> numbers;
    for (const nlohmann::json& job : Records("job")) {
        EXPECT_EQ(job["result"], "ok") << job.dump();
        numbers.insert(job["n"].get<long long>());
        EXPECT_EQ(job["bt_name"], "Shop " + std::to_string(job["n"].get<long long>()));
    }
    EXPECT_EQ(numbers, (std::set<long long>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Records("claim").size(), 6u);
    // The profile's 3 keys and the two reads, once a plug.
    EXPECT_EQ(printers[0]->FrameCount(), 10u);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(printers[i]->FrameCount(), 5u) << i;
    EXPECT_EQ(printers[0]->GetSettings().name, "Shop 6");
    EXPECT_EQ(BesidesFolder(r.out).find(kPassword), std::string::npos)
        << "a password in the station's lines: " << r.out;
}

TEST_F(StationTest, AStationWhoseResultsCannotBeWrittenTakesNoMorePrinters) {
    VirtualPrinter& second = NewPrinter(1);
    Plug(Printer(), "a", "p0");
    RunOptions full;
    full.stdoutPath = "/dev/full";
    full.timeoutMs = kBoundMs;
    std::thread late([&] {
        WaitFor([&] { return Jobs() == 1; });
        Plug(second, "a", "p1");
    });
    const CommandResult r = RunCli(Watch("a"), full);
    late.join();
    EXPECT_EQ(r.status, 4) << r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a station that went on would take it now
    EXPECT_EQ(second.FrameCount(), 0u);
    EXPECT_EQ(Records("claim").size(), 1u);
}

TEST_F(StationTest, AStationKilledMidJobNeverGivesItsNumberAgain) {
    VirtualPrinter& first = NewPrinter(0);
    first.SetBehaviour(Behaviour::Late(150));  // long enough to be killed in the middle
    Plug(first, "a", "p0");
    {
        StationRun killed(Watch("a"), SIGKILL, [&] { return first.FrameCount() >= 2; });
        ASSERT_TRUE(WaitFor([&] { return first.FrameCount() >= 2; }));
        EXPECT_EQ(killed.Stop().status, -1) << "it was not killed";
    }
    EXPECT_EQ(Records("claim").size(), 1u);
    EXPECT_EQ(Jobs(), 0u);
    Unplug("a", "p0");

    VirtualPrinter& second = NewPrinter(1);
    StationRun station(Watch("a"));
    Plug(second, "a", "p1");
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 1; }));
    station.Stop();
    EXPECT_EQ(Records("job")[0]["n"], 2);
    const CommandResult all = RunCli({"journal", journal_, "--all"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("interrupted"), std::string::npos) << all.out;
}

TEST_F(StationTest, TwoStationsOnOneJournalNeverShareANumber) {
    std::vector<VirtualPrinter*> printers;
    for (int i = 0; i < 6; ++i) printers.push_back(&NewPrinter(i));
    StationRun a(Watch("a"));
    StationRun b(Watch("b"));
    for (int i = 0; i < 6; ++i) Plug(*printers[i], i % 2 == 0 ? "a" : "b", "p" + std::to_string(i));
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 6; }));
    a.Stop();
    b.Stop();
    std::set<long long> numbers;
    for (const nlohmann::json& claim : Records("claim")) numbers.insert(claim["n"].get<long long>());
    EXPECT_EQ(numbers, (std::set<long long>{1, 2, 3, 4, 5, 6}));
}

TEST_F(StationTest, APrinterPulledOutMidJobSaysWhatWasAppliedAndWhatNot) {
    VirtualPrinter& p = NewPrinter(0);
    vprinter::LineOptions paced;
    paced.pace = true;
    p.SetLineOptions(paced);
    profile_ = WriteProfile(kEverySetting);
    StationRun station(Watch("a"));
    Plug(p, "a", "p0");
    ASSERT_TRUE(WaitFor([&] { return p.FrameCount() >= 3; }));
    p.Hangup();
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 1; }));
    station.Stop();
    const nlohmann::json job = Records("job")[0];
    EXPECT_EQ(job["result"], "error");
    std::size_t ok = 0, notSent = 0;
    for (const nlohmann::json& s : job["settings"]) {
        ok += s["result"] == "ok" ? 1 : 0;
        notSent += s["result"] == "not-sent" ? 1 : 0;
    }
    EXPECT_GE(ok, 2u);
    EXPECT_GE(notSent, 1u);
    EXPECT_EQ(job["settings"].size(), 16u) << job.dump();
}

TEST_F(StationTest, AFullDiskStopsTheStationAndNamesTheJob) {
    VirtualPrinter& p = NewPrinter(0);
    Plug(p, "a", "p0");
    std::ofstream(journal_) << R"({"v":1,"type":"claim","n":41,"port":"/dev/ttyUSB0"})"
                            << "\n";
    // Room for the claim, not for the job's record.
    const auto size = fs::file_size(journal_);
    RunOptions full;
    full.prefix = {"prlimit", "--fsize=" + std::to_string(size + 300)};
    full.timeoutMs = kBoundMs;
    const CommandResult r = RunCli(Watch("a"), full);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("job 42 on"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
    const CommandResult read = RunCli({"journal", journal_, "--all"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.err.find("cut short"), std::string::npos) << "half a record was left: " << read.err;
}

TEST_F(StationTest, NumbersEndAtTheLargestThatEveryJsonReaderKeeps) {
    const auto claim = [](const std::string& n) {
        return R"({"v":1,"type":"claim","n":)" + n + R"(,"port":"/dev/ttyUSB0"})" + "\n";
    };
    profile_ = WriteProfile("darkness = 4\n");
    Plug(Printer(), "a", "p0");
    const struct {
        const char* name;
        std::string journal;
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {"the journal's highest is 2^53 - 1",
         claim("9007199254740991"),
         {},
         4,
         "the journal " + journal_ + " has no number left to give"},
        {"the journal's highest is the largest long long",
         claim("9223372036854775807"),
         {},
         4,
         "the journal " + journal_ + " has no number left to give"},
        {"a start of 2^53", "", {"--start", "9007199254740992"}, 2, "--start: 9007199254740992 is beyond"},
        {"a start beyond a long long", "", {"--start", "99999999999999999999"}, 2, "is beyond 9007199254740991"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(journal_, std::ios::trunc) << c.journal;
        RunOptions bounded;
        bounded.timeoutMs = kBoundMs;
        const CommandResult r = RunCli(Watch("a", c.args), bounded);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Printer().FrameCount(), 0u);
        EXPECT_EQ(Records("claim").size(), c.journal.empty() ? 0u : 1u);
    }
    // One below: the largest is still given.
    std::ofstream(journal_, std::ios::trunc) << claim("9007199254740990");
    StationRun station(Watch("a"));
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 1; }));
    station.Stop();
    EXPECT_EQ(Records("job")[0]["n"].get<long long>(), 9007199254740991);
    EXPECT_EQ(Records("job")[0]["result"], "ok");
}

TEST_F(StationTest, NoLineShowsAPassword) {
    profile_ = WriteProfile("bt-password = \"" + std::string(kPassword) + "{n}\"\n");
    const std::string set = "bt-password=" + std::string(kPassword) + "7";
    // Read back with three more letters than were set.
    const std::vector<Behaviour> otherText = {Behaviour::Normal(), Behaviour::ValueLength(9, true)};
    const struct {
        const char* name;
        bool station;  // else a command on the printer's port
        std::vector<std::string> args;
        std::vector<Behaviour> queued;
        int status;
    } cases[] = {
        {"a station's read-back differs", true, {"--verify"}, otherText, 130},
        // "Kq-Zv" and 16 digits, 21 bytes: not sent, for a reason that quotes the text.
        {"a station's password is too long for its number", true, {"--start", "1000000000000000"}, {}, 130},
        {"set's read-back differs", false, {"set", set, "--verify", "--journal", journal_}, otherText, 1},
        {"get", false, {"get", "bt-password"}, {}, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        VirtualPrinter& p = NewPrinter(static_cast<int>(i));
        p.SetPassword(std::string(kPassword) + "0");  // what get reads
        for (const Behaviour& b : c.queued) p.QueueBehaviour(b);
        CommandResult r;
        if (c.station) {
            const std::size_t jobs = Jobs();
            StationRun station(Watch("a", c.args));
            Plug(p, "a", "p");
            EXPECT_TRUE(WaitFor([&] { return Jobs() == jobs + 1; }));
            r = station.Stop();
            Unplug("a", "p");
        } else {
            std::vector<std::string> args = c.args;
            args.insert(args.end(), {"-p", p.SlavePath(), "--timeout", "500"});
            r = RunCli(args);
        }
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_FALSE(r.out.empty());
        EXPECT_EQ(BesidesFolder(r.out + r.err).find(kPassword), std::string::npos) << r.out << r.err;
    }
    for (const std::vector<std::string>& view :
         {std::vector<std::string>{"journal", journal_}, std::vector<std::string>{"journal", journal_, "--all"}}) {
        const CommandResult r = RunCli(view);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.Lines().size(), 3u) << r.out;
        EXPECT_EQ(BesidesFolder(r.out + r.err).find(kPassword), std::string::npos) << r.out << r.err;
    }
    // The journal itself keeps what was set.
    EXPECT_EQ(Records("job").back()["settings"][0]["value"], std::string(kPassword) + "7");
}

TEST_F(StationTest, SelectorsAreResolvedBeforeAnythingIsSent) {
    VirtualPrinter& other = NewPrinter(1);
    Plug(Printer(), "a", "p0");
    Plug(other, "a", "p1");
    const std::string glob = (dir_ / "a" / "p*").string();
    const CommandResult dry = RunCli({"--dry-run", "set", "darkness=4", "-p", glob});
    EXPECT_EQ(dry.status, 0) << dry.err;
    ASSERT_GE(dry.Lines().size(), 3u) << dry.out;
    EXPECT_EQ(dry.Lines()[0], glob + "  ->  " + (dir_ / "a" / "p0").string() + "  " + (dir_ / "a" / "p1").string());
    const CommandResult batch = RunCli({"set", "darkness=2", "-p", glob, "--json"});
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(Printer().GetSettings().darkness, 2);
    EXPECT_EQ(other.GetSettings().darkness, 2);
    for (const char* none : {"usb:dead:beef", "bt:00:00:00:00:00:01"}) {
        const CommandResult r = RunCli({"set", "darkness=3", "-p", glob, "-p", none});
        EXPECT_EQ(r.status, 3) << none;
        EXPECT_NE(r.err.find(none), std::string::npos) << r.err;
    }
    EXPECT_EQ(Printer().FrameCount() + other.FrameCount(), 2u) << "sent before every selector was resolved";
}

TEST_F(StationTest, JournalShowsTheLatestOfEachPrinterForLabelsAndSpreadsheets) {
    std::ofstream(journal_)
        << R"J({"v":1,"type":"claim","n":1,"port":"/dev/ttyUSB0"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":1,"time":"2026-12-01T09:00:00.000Z","port":"/dev/ttyUSB0","settings":[{"key":"bt-password","value":"4001","result":"ok"}],"bt_address":"00:11:22:33:44:01","bt_name":"Shop, 1","result":"ok"})J"
           "\n"
        << R"J({"v":1,"type":"claim","n":2,"port":"/dev/ttyUSB1"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":2,"time":"2026-12-01T09:01:00.000Z","port":"/dev/ttyUSB1","settings":[],"bt_address":"00:11:22:33:44:02","bt_name":"=HYPERLINK(1)","result":"refused"})J"
           "\n"
        << R"J({"v":1,"type":"claim","n":3,"port":"/dev/ttyUSB0"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":3,"time":"2026-12-01T09:02:00.000Z","port":"/dev/ttyUSB0","settings":[{"key":"bt-password","value":"4003","result":"ok"}],"bt_address":"00:11:22:33:44:01","bt_name":"Shop 3","result":"ok"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":5,"time":"2026-12-01T09:04:00.000Z","port":"/dev/ttyUSB3","identity":{"kind":"usb-serial","serial_number":"CABLE1"},"settings":[],"bt_address":"","result":"no-answer"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":6,"time":"2026-12-01T09:05:00.000Z","port":"/dev/ttyUSB3","identity":{"kind":"usb-serial","serial_number":"CABLE1"},"settings":[],"bt_address":"","result":"no-answer"})J"
           "\n"
        << R"J({"v":1,"type":"claim","n":4,"port":"/dev/ttyUSB2"})J"
           "\n"
        << R"J({"v":1,"type":"job","n":4,"time":"2026-12-01T09:03:00.0)J";  // cut by a power cut
    const CommandResult csv = RunCli({"journal", journal_, "--csv"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out,
              "number,address,name,password,time,result\n"
              "3,00:11:22:33:44:01,Shop 3,4003,2026-12-01T09:02:00.000Z,ok\n"
              "2,00:11:22:33:44:02,'=HYPERLINK(1),,2026-12-01T09:01:00.000Z,refused\n"
              // Two printers that never said their address, on one USB-serial cable.
              "5,,,,2026-12-01T09:04:00.000Z,no-answer\n"
              "6,,,,2026-12-01T09:05:00.000Z,no-answer\n");
    EXPECT_NE(csv.err.find("skipped 1 line cut short"), std::string::npos) << csv.err;

    const CommandResult one = RunCli({"journal", journal_, "--all", "--address", "00:11:22:33:44:01", "--csv"});
    EXPECT_EQ(one.Lines().size(), 3u) << one.out;
    EXPECT_NE(one.out.find("1,00:11:22:33:44:01,\"Shop, 1\",4001"), std::string::npos) << one.out;
    EXPECT_NE(RunCli({"journal", journal_, "--all"}).out.find("interrupted"), std::string::npos);

    // A job journaled from the command line, after the torn line.
    Printer().SetAddress("00:11:22:33:44:05");
    const CommandResult set = RunCli({"set", "darkness=4", "-p", Port(), "--journal", journal_, "--json"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.Lines().size(), 3u) << "the key and the two reads: " << set.out;
    const CommandResult mine = RunCli({"journal", journal_, "--port", Port(), "--json"});
    ASSERT_EQ(mine.Lines().size(), 1u) << mine.out << mine.err;
    const nlohmann::json record = nlohmann::json::parse(mine.Lines()[0]);
    EXPECT_EQ(record["command"], "set");
    EXPECT_EQ(record["bt_address"], "00:11:22:33:44:05");
    EXPECT_EQ(record["settings"][0]["key"], "darkness");
    EXPECT_FALSE(record.contains("n"));
}

TEST_F(StationTest, ReportCountsTheShiftFromTheJournal) {
    Printer().SetAddress("00:11:22:33:44:01");
    Printer().QueueBehaviour(Behaviour::AnswerFF());  // darkness refused, then done again
    const std::vector<std::string> set = {"set", "darkness=4", "beeper=on", "-p", Port(), "--journal", journal_};
    ASSERT_EQ(RunCli(set).status, 1);
    ASSERT_EQ(RunCli(set).status, 0);
    const CommandResult r = RunCli({"journal", journal_, "--report", "--json", "--since", "2000-01-01"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.Lines().size(), 1u) << r.out;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["jobs"], 2);
    EXPECT_EQ(j["ok"], 1);
    EXPECT_EQ(j["first_pass_yield"], 0.0) << "one printer, passed on its second job";
    EXPECT_EQ(j["hosts"][0]["failures_by_key"], nlohmann::json({{"darkness", 1}}));
    EXPECT_EQ(RunCli({"journal", journal_, "--report", "--until", "yesterday"}).status, 2);
    EXPECT_EQ(RunCli({"journal", profile_, "--report"}).status, 2) << "a file that is no journal";
}

}  // namespace

// A port another program holds: named, with its process id, by `set` and
// by the station, which waits for it (bounded) and spends no number on it.
TEST_F(StationTest, AHeldPortIsWaitedForNamedAndCostsNoNumber) {
    VirtualPrinter& held = NewPrinter(0);
    VirtualPrinter& kept = NewPrinter(1);
    const int lock = open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int keep = open(kept.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    ASSERT_EQ(flock(keep, LOCK_EX), 0);
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    const std::string holder = "in use by " + self + " (pid " + std::to_string(getpid()) + ")";

    const CommandResult set = RunCli({"set", "darkness=4", "-p", held.SlavePath(), "--timeout", "300"});
    EXPECT_EQ(set.status, 3);
    EXPECT_NE(set.out.find(holder), std::string::npos) << set.out;

    StationRun station(Watch("a", {"--busy-wait", "2"}));
    Plug(held, "a", "held");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(Records("claim").empty()) << "a number for a port the station does not have";
    flock(lock, LOCK_UN);
    ASSERT_TRUE(WaitFor([&] { return Jobs() == 1; }));
    Plug(kept, "a", "kept");  // held past the wait: one line, no number
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const CommandResult& r = station.Stop();
    close(lock);
    close(keep);
    const auto jobs = Records("job");
    ASSERT_EQ(jobs.size(), 1u) << r.out;
    EXPECT_EQ(jobs[0]["n"], 1);
    EXPECT_EQ(jobs[0]["result"], "ok");
    EXPECT_EQ(Records("claim").size(), 1u);
    EXPECT_NE(r.err.find(holder), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("not configured: " + holder), std::string::npos) << r.out;
    EXPECT_EQ(kept.FrameCount(), 0u);
}
