// The command's one promise, against the printers and lines that broke it:
// never "ok" but for the printer's own answer to that frame (a late value
// answer from an earlier command, a line that echoes), every wait within
// its bound whatever arrives (a flood, a name server that never answers),
// and every key recorded whenever the stop comes (while a journal is held).
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <thread>

#include "cli_fixture.h"
#include "loopback.h"
#include "tcp_printers.h"

namespace {

using namespace clitest;

std::size_t Count(const std::vector<nlohmann::json>& records, const char* result) {
    std::size_t n = 0;
    for (const auto& r : records) n += r["result"] == result ? 1 : 0;
    return n;
}

// The very case: an earlier command's read is answered late, and its
// name's text must not pass for the next command's status reply.
TEST_F(CliTest, ALateValueAnswerIsNeverTheNextCommandsReply) {
    Printer().SetName("Shop");
    Printer().SetBehaviour(Behaviour::Late(1500));
    const CommandResult read = RunCli({"get", "bt-name", "-p", Port(), "--timeout", "1000", "--json"});
    EXPECT_EQ(read.status, 3) << read.out;
    const CommandResult set = RunCli({"set", "darkness=4", "-p", Port(), "--timeout", "1000", "--json"});
    EXPECT_EQ(set.status, 3) << set.out << set.err;
    ASSERT_EQ(Json(set).size(), 1u) << set.out;
    EXPECT_EQ(Json(set)[0]["result"], "no-answer") << "its own answer came 1.5 s late: " << set.out;
    Printer().WaitForIdle(3000);
}

// Three printers whose line echoes and one that acknowledges by copying:
// only answers a printer sent count.
TEST_F(CliTest, ALineThatEchoesIsNeverOk) {
    const struct {
        const char* name;
        bool echo;
        Behaviour behaviour;
        int status;
        const char* result;  // of the first key
    } cases[] = {
        {"a loopback plug: an echo and no printer", true, Behaviour::Silent(), 3, "no-answer"},
        {"an echo, and a printer behind it", true, Behaviour::Normal(), 0, "ok"},
        {"a printer that copies each frame back", false, Behaviour::Copy(), 0, "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualPrinter& printer = AddPrinter();
        vprinter::LineOptions line;
        line.echo = c.echo;
        printer.SetLineOptions(line);
        printer.SetBehaviour(c.behaviour);
        const CommandResult r = RunCli({"set", "darkness=4", "beeper=on", "bt-visible=hidden", "baud=115200", "-p",
                                        printer.SlavePath(), "--timeout", "300", "--json"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const auto records = Json(r);
        ASSERT_EQ(records.size(), 4u) << r.out;
        EXPECT_EQ(records[0]["result"], c.result) << r.out;
        if (c.status != 0) {
            EXPECT_EQ(Count(records, "ok"), 0u) << r.out;
            EXPECT_NE(r.out.find("the line sends back what it is sent"), std::string::npos) << r.out;
            EXPECT_EQ(r.err.find("now listens at"), std::string::npos) << r.err;
        }
        // One check at most tells an echo from a copy, and only when a reply is its frame's bytes.
        std::size_t checks = 0;
        for (const auto& f : printer.Frames()) checks += vprinter::HexString(f) == "1D 46 74" ? 1 : 0;
        EXPECT_LE(checks, 1u);
    }

    // The same over a network line that echoes, with no printer behind.
    vprinter::TcpPrinters echo;
    std::string error;
    ASSERT_TRUE(echo.Start("127.0.0.1", 0, 1, &error)) << error;
    vprinter::LineOptions line;
    line.echo = true;
    echo.SetLineOptions(line);
    echo.SetBehaviour(0, Behaviour::Silent());
    const CommandResult r = RunCli({"set", "darkness=4", "beeper=off", "bt-password=4321", "baud=115200", "-p",
                                    echo.Url(0), "--timeout", "300", "--json"});
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(Count(Json(r), "ok"), 0u) << r.out;
    EXPECT_EQ(r.err.find("now listens at"), std::string::npos) << r.err;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A listener that answers the first frame with 1D 46 00 00 for ever.
class Flood {
public:
    Flood() : fd_(BindTcp("127.0.0.1", 0, &port_)) {
        listen(fd_, 4);
        thread_ = std::thread([this] {
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            char frame[8];
            [[maybe_unused]] ssize_t n = recv(c, frame, sizeof frame, 0);
            std::string burst;
            for (int i = 0; i < 1024; ++i) burst += std::string("\x1D\x46\x00\x00", 4);
            while (!stop_ && send(c, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) {}
            close(c);
        });
    }
    ~Flood() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    int port_ = 0;
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(CliTest, AFloodKeepsNeitherTheTimeOutNorMemory) {
    Flood flood;
    clitest::RunOptions measured;
    measured.prefix = {"/usr/bin/time", "-f", "peak %M KiB"};
    const CommandResult r = RunCli({"set", "darkness=4", "--timeout", "300", "-p", flood.Url(), "--json"}, measured);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_LT(r.seconds, 1.5) << "the wait went past its time-out";
    const std::size_t at = r.err.rfind("peak ");
    ASSERT_NE(at, std::string::npos) << r.err;
    // The sanitizers' quarantine keeps what was freed: their peak says nothing.
    if (!kSanitized) {
        EXPECT_LT(std::stol(r.err.substr(at + 5)), 64 * 1024) << r.err;
    }

    // Among network printers, the flooding one holds up none of the others.
    Flood another;
    vprinter::TcpPrinters printers;
    std::string error;
    ASSERT_TRUE(printers.Start("127.0.0.1", 0, 8, &error)) << error;
    std::string ports = another.Url();
    for (std::size_t i = 0; i < 8; ++i) ports += "," + printers.Url(i);
    const CommandResult batch = RunCli({"set", "darkness=4", "beeper=off", "--timeout", "300", "-p", ports, "--json"});
    EXPECT_EQ(Count(Json(batch), "ok"), 16u) << batch.out;
    EXPECT_LT(batch.seconds, 2.0);
}

// A name server that takes the question and never answers, in a mount
// namespace of the test's own (its resolv.conf points at a sink on 127.0.0.1).
TEST_F(CliTest, ANameThatNeverResolvesIsBoundedAndStops) {
    const int sink = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(53);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0 ||
        bind(sink, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(sink);
        GTEST_SKIP() << "needs root, unshare and port 53 on 127.0.0.1 free";
    }
    const std::string conf = WriteProfile("nameserver 127.0.0.1\noptions timeout:3 attempts:2\n");
    clitest::RunOptions isolated;
    isolated.prefix = {"/usr/bin/unshare", "-m", "sh", "-c",
                       "mount --bind " + conf + " /etc/resolv.conf && exec \"$0\" \"$@\""};
    const CommandResult r = RunCli(
        {"set", "darkness=4", "--connect-timeout", "200", "--timeout", "200", "-p", "tcp://printer.example", "--json"},
        isolated);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_LT(r.seconds, 1.5) << r.out << r.err;
    ASSERT_EQ(Json(r).size(), 1u) << r.out << r.err;
    EXPECT_GE(Json(r)[0]["ms"].get<long long>(), 150) << "the record must give the lookup's true time";

    isolated.signalWhen = [start = std::chrono::steady_clock::now()] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(400);
    };
    isolated.signal = SIGINT;
    const CommandResult stopped =
        RunCli({"set", "darkness=4", "--connect-timeout", "5000", "-p", "tcp://printer.example", "--json"}, isolated);
    close(sink);
    EXPECT_EQ(stopped.status, 130) << stopped.out << stopped.err;
    EXPECT_LT(stopped.secondsAfterSignal, 0.5);
    ASSERT_EQ(Json(stopped).size(), 1u) << stopped.out;
    EXPECT_EQ(Json(stopped)[0]["result"], "not-sent");
}

// A journal another program holds: a stop while the command waits for it
// records every key and sends nothing; held for good, it is "in use", exit 3.
TEST_F(CliTest, AJournalHeldByAnotherProgramIsWaitedForBoundedAndStops) {
    const std::string journal = WriteProfile("");
    const int held = open(journal.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    clitest::RunOptions run;
    run.signalWhen = [start = std::chrono::steady_clock::now()] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1000);
    };
    run.signal = SIGINT;
    const std::vector<std::string> args = {"set",  "darkness=4", "beeper=off", "-p",
                                           Port(), "--journal",  journal,      "--json"};
    const CommandResult stopped = RunCli(args, run);
    EXPECT_EQ(stopped.status, 130) << stopped.err;
    ASSERT_EQ(Json(stopped).size(), 4u) << "2 keys and the journal's 2 reads: " << stopped.out;
    EXPECT_EQ(Count(Json(stopped), "not-sent"), 4u) << stopped.out;
    std::string self;
    std::getline(std::ifstream("/proc/self/comm"), self);
    EXPECT_NE(stopped.err.find("locked by " + self + " (pid " + std::to_string(getpid()) + ")"), std::string::npos)
        << stopped.err;

    const CommandResult given = RunCli(args, clitest::RunOptions{});
    close(held);
    EXPECT_EQ(given.status, 3) << given.err;
    EXPECT_NE(given.err.find("is in use by " + self), std::string::npos) << given.err;
    EXPECT_EQ(Count(Json(given), "not-sent"), 4u) << given.out;
    EXPECT_EQ(Printer().FrameCount(), 0u);
}

}  // namespace

namespace {

// A check proves a copying printer's line does not echo; the next command
// on that line is spared the check (for a while), and still gets "ok".
TEST_F(CliTest, ALineShownNotToEchoIsSparedTheCheckNextTime) {
    Printer().SetBehaviour(Behaviour::Copy());
    const auto checks = [&] {
        std::size_t n = 0;
        for (const auto& f : Printer().Frames()) n += vprinter::HexString(f) == "1D 46 74" ? 1 : 0;
        return n;
    };
    for (const std::size_t expected : {1u, 1u}) {
        const CommandResult r = Cli({"set", "beeper=on", "--json"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(checks(), expected);
    }
}

}  // namespace
