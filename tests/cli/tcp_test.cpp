// The native morvane-cli against network printers: virtual printers on
// TCP over loopback addresses only. Records as for serial lines, the
// connection's own failures told apart, batches bounded, and scans that
// send nothing but the address read and the name read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/run/batch.h"
#include "command.h"
#include "loopback.h"
#include "tcp_printers.h"
#include "tests/common/tcp_cases.h"

namespace {

using namespace clitest;
using vprinter::Behaviour;
using vprinter::TcpPrinters;

std::vector<nlohmann::json> Json(const CommandResult& r) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : r.Lines()) objects.push_back(nlohmann::json::parse(line));
    return objects;
}

std::string TempFile(const std::string& text) {
    char path[] = "/tmp/morvane-tcp-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    std::ofstream(path) << text;
    return path;
}

class TcpTest : public ::testing::Test {
protected:
    // `count` printers on 127.0.0.1, on ports the system picks.
    TcpPrinters& Start(std::size_t count = 1, std::ostream* log = nullptr) {
        printers_ = std::make_unique<TcpPrinters>(log);
        std::string error;
        EXPECT_TRUE(printers_->Start("127.0.0.1", 0, count, &error)) << error;
        return *printers_;
    }
    std::string Ports(std::size_t count) const {
        std::string ports;
        for (std::size_t i = 0; i < count; ++i) ports += (i == 0 ? "" : ",") + printers_->Url(i);
        return ports;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
    }
    std::unique_ptr<TcpPrinters> printers_;
    std::vector<std::string> files_;
};

TEST_F(TcpTest, RecordsAsForSerialLines) {
    for (const morvane::test::TcpCase& c : morvane::test::TcpCases()) {
        SCOPED_TRACE(c.name);
        TcpPrinters& p = Start();
        for (const Behaviour& b : c.queued) p.QueueBehaviour(0, b);
        p.SetBehaviour(0, c.run);
        std::vector<std::string> args;
        for (const std::string& a : c.args) {
            if (a != "{profile}") {
                args.push_back(a);
                continue;
            }
            files_.push_back(TempFile(c.profile));
            args.push_back(files_.back());
        }
        args.insert(args.end(), {"-p", p.Url(0), "--json"});
        if (std::find(args.begin(), args.end(), "--timeout") == args.end())
            args.insert(args.end(), {"--timeout", "300"});
        const CommandResult r = RunCli(args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const auto records = Json(r);
        ASSERT_EQ(records.size(), c.results.size()) << r.out;
        bool detailSeen = std::string(c.detail).empty();
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i]["result"], c.results[i]) << records[i].dump();
            detailSeen = detailSeen || records[i].value("detail", "").find(c.detail) != std::string::npos;
        }
        EXPECT_TRUE(detailSeen) << "no record says \"" << c.detail << "\": " << r.out;
        const vprinter::Settings s = p.GetSettings(0);
        if (c.args[0] == "get") {
            EXPECT_EQ(records[0]["value"], s.name);
            EXPECT_EQ(records[1]["value"], s.address);
            EXPECT_EQ(records[2]["value"], s.password);
        }
        if (c.args[0] == "apply") {
            EXPECT_EQ(s.name, "Till 1");
            EXPECT_EQ(s.position, -28);
            EXPECT_EQ(p.CurrentBaud(0), 115200);
        }
        EXPECT_EQ(p.Connections(0), 1u) << "one connection per job";
        p.WaitForIdle(3000);
        p.Stop();
    }
}

TEST_F(TcpTest, ConnectionFailuresAreToldApart) {
    const RefusingPort refusing;
    const FullQueue full;
    const struct {
        const char* name;
        std::string port;
        std::vector<std::string> prefix;
        const char* says;
    } cases[] = {
        {"refused", refusing.Url(), {}, "connection refused"},
        {"timed out", full.Url(), {}, "no connection within 200 ms"},
        // Without a network the resolver reaches nobody: nothing leaves
        // the machine, and the name resolves to nothing.
        {"no address",
         "tcp://no-such-printer.invalid:9100",
         {"unshare", geteuid() == 0 ? "-n" : "-rn"},
         "the name no-such-printer.invalid resolves to no address"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunOptions run;
        run.prefix = c.prefix;
        const CommandResult r =
            RunCli({"set", "darkness=4", "beeper=on", "-p", c.port, "--connect-timeout", "200", "--json"}, run);
        EXPECT_EQ(r.status, 3) << r.out << r.err;
        const auto records = Json(r);
        ASSERT_EQ(records.size(), 2u) << r.out << r.err;
        for (const auto& record : records) {
            EXPECT_EQ(record["result"], "error");
            EXPECT_NE(record["detail"].get<std::string>().find(c.says), std::string::npos) << record.dump();
        }
        EXPECT_LT(r.seconds, 5.0);
    }
}

TEST_F(TcpTest, IPv6LiteralsInBrackets) {
    printers_ = std::make_unique<TcpPrinters>();
    std::string error;
    if (!printers_->Start("::1", 0, 1, &error)) GTEST_SKIP() << "no IPv6 loopback: " << error;
    const std::string url = printers_->Url(0);
    ASSERT_EQ(url.rfind("tcp://[::1]:", 0), 0u) << url;
    const CommandResult r = RunCli({"set", "darkness=2", "-p", url});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(printers_->GetSettings(0).darkness, 2);
}

TEST_F(TcpTest, JobsBoundHowManyPrintersAtOnce) {
    const struct {
        std::size_t printers;
        std::vector<std::string> args;
        std::vector<std::string> prefix;
        std::size_t bound;
        const char* note;  // on standard error, when the open-file limit bounds the run
    } cases[] = {
        {12, {"--jobs", "3"}, {}, 3, ""},
        {70, {}, {}, morvane::cli::kNetworkJobs, ""},
        // 32 files kept for the command, 2 a line: room for 14.
        {40, {"--jobs", "40"}, {"sh", "-c", "ulimit -n 60 && exec \"$0\" \"$@\""}, 14, "lets the command hold 14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.printers) + " printers");
        TcpPrinters& p = Start(c.printers);
        for (std::size_t i = 0; i < c.printers; ++i) p.SetBehaviour(i, Behaviour::Late(40));
        std::vector<std::string> args = {"set", "darkness=4", "beeper=on", "-p", Ports(c.printers), "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunOptions run;
        run.prefix = c.prefix;
        const CommandResult r = RunCli(args, run);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Json(r).size(), 2 * c.printers);
        EXPECT_LE(p.PeakClients(), c.bound);
        EXPECT_GT(p.PeakClients(), 1u) << "the printers were done one by one";
        EXPECT_NE(r.err.find(c.note), std::string::npos) << r.err;
        if (std::string(c.note).empty()) {
            EXPECT_EQ(r.err.find("open files"), std::string::npos) << r.err;
        }
        EXPECT_NE(r.err.find(std::to_string(2 * c.printers) + " keys: " + std::to_string(2 * c.printers) + " ok"),
                  std::string::npos)
            << r.err;
        p.Stop();
    }
}

TEST_F(TcpTest, AStopSignalInABatchRecordsEveryKeyAndSendsNoMore) {
    // Network jobs share threads: the signal must reach every one of them
    // while it waits on its printer, not only the one that is running.
    constexpr std::size_t kPrinters = 24;
    TcpPrinters& p = Start(kPrinters);
    for (std::size_t i = 0; i < kPrinters; ++i) p.SetBehaviour(i, Behaviour::Late(150));
    const auto frames = [&] {
        std::size_t n = 0;
        for (std::size_t i = 0; i < kPrinters; ++i) n += p.FrameCount(i);
        return n;
    };
    RunOptions run;
    run.signalWhen = [&] { return frames() >= kPrinters + 4; };
    run.signal = SIGINT;
    const CommandResult r = RunCli({"set", "darkness=4", "beeper=on", "sleep=60", "paper-width=58", "-p",
                                    Ports(kPrinters), "--json", "--jobs", std::to_string(kPrinters)},
                                   run);
    EXPECT_EQ(r.status, 130) << r.err;
    const auto records = Json(r);
    ASSERT_EQ(records.size(), 4 * kPrinters) << r.out;
    std::size_t sent = 0;
    for (const auto& record : records) sent += record["result"] != "not-sent" ? 1 : 0;
    EXPECT_LT(sent, 4 * kPrinters) << "nothing was cut short";
    EXPECT_TRUE(p.WaitForIdle(3000));
    EXPECT_EQ(frames(), sent) << "a frame left after the signal, or one has no record";
    EXPECT_LT(r.secondsAfterSignal, 1.5);
    p.Stop();
}

TEST_F(TcpTest, SkipSameLeavesTextsThatHoldTheValue) {
    TcpPrinters& p = Start();
    const std::vector<std::string> args = {
        "set", "bt-name=Till-4", "bt-password=9876", "darkness=2", "--skip-same", "-p", p.Url(0), "--json"};
    const CommandResult first = RunCli(args);
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(p.GetSettings(0).name, "Till-4");
    EXPECT_FALSE(Json(first)[0].contains("unchanged")) << first.out;
    p.ClearFrames(0);
    const CommandResult again = RunCli(args);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    const auto records = Json(again);
    EXPECT_EQ(records[0]["unchanged"], true) << again.out;
    EXPECT_EQ(records[1]["unchanged"], true) << again.out;
    EXPECT_FALSE(records[2].contains("unchanged")) << "darkness cannot be read, so it is set";
    std::vector<std::string> frames;
    for (const auto& f : p.Frames(0)) frames.push_back(vprinter::HexString(f));
    EXPECT_EQ(frames, (std::vector<std::string>{"1D 46 72 00", "1D 46 77 00", "1D 46 7C 02"}));
}

TEST_F(TcpTest, ProbeNetFindsExactlyThePrintersAndSendsThemOnlyTwoReads) {
    const int port = FreePortEverywhere();
    ASSERT_GT(port, 0);
    std::vector<std::unique_ptr<TcpPrinters>> printers;
    std::vector<std::unique_ptr<std::ostringstream>> logs;
    for (const char* address : {"127.0.0.5", "127.0.0.77", "127.0.0.200"}) {
        logs.push_back(std::make_unique<std::ostringstream>());
        printers.push_back(std::make_unique<TcpPrinters>(logs.back().get()));
        std::string error;
        ASSERT_TRUE(printers.back()->Start(address, port, 1, &error)) << error;
        printers.back()->SetName(0, std::string("Counter ") + address);
    }
    NotAPrinter silent("127.0.0.9", port, "");
    NotAPrinter junk("127.0.0.10", port, "HTTP/1.0 400 Bad Request\r\n\r\n");
    ASSERT_TRUE(silent.Listening() && junk.Listening());

    const std::string range = "127.0.0.0/24:" + std::to_string(port);
    const CommandResult r = RunCli({"probe", "--net", range, "--json", "--connect-timeout", "250", "--timeout", "250"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::map<std::string, std::map<std::string, std::string>> found;
    for (const auto& j : Json(r)) found[j["port"]][j["key"]] = j["value"];
    ASSERT_EQ(found.size(), printers.size()) << r.out;
    for (auto& p : printers) {
        const std::string url = p->Url(0);
        EXPECT_EQ(found[url]["bt-address"], p->GetSettings(0).address) << url;
        EXPECT_EQ(found[url]["bt-name"], p->GetSettings(0).name) << url;
        p->Stop();
    }
    EXPECT_NE(r.err.find("254 addresses"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 printers; 2 took the connection"), std::string::npos) << r.err;
    // What the printers' logs show they received, and what the others got.
    for (const auto& log : logs) {
        std::istringstream lines(log->str());
        std::vector<std::string> received;
        for (std::string line; std::getline(lines, line);)
            if (const std::size_t at = line.find(" rx "); at != std::string::npos)
                received.push_back(line.substr(at + 4));
        EXPECT_EQ(received, (std::vector<std::string>{"1D 46 74", "1D 46 72 00"})) << log->str();
    }
    for (auto& p : printers) EXPECT_EQ(p->BytesReceived(0), 7u) << "bytes besides the two reads";
    EXPECT_EQ(silent.Received(), "\x1D\x46\x74");
    EXPECT_EQ(junk.Received(), "\x1D\x46\x74");

    const CommandResult wide = RunCli({"probe", "--net", "127.0.0.0/8"});
    EXPECT_EQ(wide.status, 2);
    EXPECT_NE(wide.err.find("needs --force"), std::string::npos) << wide.err;
}

}  // namespace
