// What the command promises when things go wrong in the middle: never "ok"
// for another frame's answer, a record for every key whatever happens, the
// line and the printer's speed never left in a state nobody is told of,
// one command per port, and output that cannot be lost silently or forged.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cli_fixture.h"

namespace {

using namespace clitest;

// The settings a tty has, as a test compares them before and after.
struct LineState {
    termios tio{};
    bool operator==(const LineState& o) const {
        return tio.c_iflag == o.tio.c_iflag && tio.c_oflag == o.tio.c_oflag && tio.c_cflag == o.tio.c_cflag &&
               tio.c_lflag == o.tio.c_lflag && cfgetospeed(&tio) == cfgetospeed(&o.tio) &&
               tio.c_cc[VMIN] == o.tio.c_cc[VMIN] && tio.c_cc[VTIME] == o.tio.c_cc[VTIME];
    }
};

LineState ReadLine(const std::string& path) {
    LineState s;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path;
    EXPECT_EQ(tcgetattr(fd, &s.tio), 0);
    close(fd);
    return s;
}

// Settings no run of the command would leave behind: 4800 baud and a few
// modes it turns off. (A pseudo-terminal keeps 8 bits whatever it is told.)
LineState MarkLine(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path;
    termios tio{};
    tcgetattr(fd, &tio);
    tio.c_iflag |= IXON;
    tio.c_lflag |= ICANON;
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    EXPECT_EQ(tcsetattr(fd, TCSANOW, &tio), 0) << std::strerror(errno);
    close(fd);
    return ReadLine(path);
}

std::size_t CountResult(const std::vector<nlohmann::json>& records, const char* result) {
    std::size_t n = 0;
    for (const auto& r : records) n += r["result"] == result ? 1 : 0;
    return n;
}

TEST_F(CliTest, ALateAnswerIsNeverTheNextKeysAnswer) {
    // Every answer 1200 ms late: darkness's arrives while position waits.
    Printer().SetBehaviour(Behaviour::Late(1200));
    const std::vector<std::string> args = {"set",  "darkness=4", "position=1000", "-p",
                                           Port(), "--timeout",  "1000",          "--json"};
    const CommandResult stopped = RunCli(args);
    EXPECT_EQ(stopped.status, 3);
    auto records = Json(stopped);
    ASSERT_EQ(records.size(), 2u) << stopped.out;
    EXPECT_EQ(records[0]["result"], "no-answer");
    EXPECT_EQ(records[1]["result"], "not-sent");
    EXPECT_EQ(Printer().FrameCount(), 1u);

    ASSERT_TRUE(Printer().WaitForIdle(3000));
    std::vector<std::string> keepGoing = args;
    keepGoing.push_back("--keep-going");
    const CommandResult going = RunCli(keepGoing);
    records = Json(going);
    ASSERT_EQ(records.size(), 2u) << going.out;
    EXPECT_EQ(records[0]["result"], "no-answer");
    EXPECT_EQ(records[1]["result"], "no-answer") << "the position was refused, and late: " << going.out;
    EXPECT_EQ(vprinter::HexString(Printer().Replies().back()), "1D 46 82 FF");
    Printer().WaitForIdle(3000);
}

TEST_F(CliTest, AStopSignalRecordsEveryKeyAndPutsTheLineBack) {
    const struct {
        const char* name;
        int signal;
        int secondAfterMs;  // -1: one signal
        int lateMs;         // each answer this late
        int status;
    } cases[] = {
        {"SIGINT", SIGINT, -1, 0, 130},
        {"SIGTERM", SIGTERM, -1, 0, 143},
        // The second one does not wait for the answer on the wire.
        {"SIGINT twice", SIGINT, 100, 800, 130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vprinter::LineOptions paced;
        paced.pace = true;
        Printer().SetLineOptions(paced);
        Printer().ClearFrames();
        Printer().SetBehaviour(c.lateMs > 0 ? Behaviour::Late(c.lateMs) : Behaviour::Normal());
        const LineState before = MarkLine(Port());
        RunOptions run;
        run.signalWhen = [&] { return Printer().FrameCount() >= 4; };
        run.signal = c.signal;
        run.secondSignalAfterMs = c.secondAfterMs;
        const std::string journal = WriteProfile("");
        const CommandResult r = RunCli(
            {"apply", WriteProfile(kEverySetting), "-p", Port(), "--json", "--timeout", "1000", "--journal", journal},
            run);
        EXPECT_EQ(r.status, c.status) << r.err;
        const auto records = Json(r);
        ASSERT_EQ(records.size(), 18u) << "16 keys and the journal's two reads: " << r.out;
        // The first keys were done, the rest were not sent: in that order.
        const std::size_t done = 18 - CountResult(records, "not-sent");
        EXPECT_GE(done, 4u);
        EXPECT_LT(done, 16u);
        for (std::size_t i = 0; i < done; ++i)
            EXPECT_EQ(records[i]["result"], i + 1 < done || c.secondAfterMs < 0 ? "ok" : "no-answer") << i;
        EXPECT_EQ(Printer().FrameCount(), done) << "a frame left after the signal";
        // The answer on the wire may be waited for: its time-out and a little.
        EXPECT_LT(r.secondsAfterSignal, c.secondAfterMs < 0 ? 1.5 : 0.5 + c.secondAfterMs / 1000.0);
        EXPECT_TRUE(ReadLine(Port()) == before) << "the line's settings were not put back";
        // The journal has the job, as it stood, even when the end came at once.
        std::ifstream in(journal);
        std::string line;
        ASSERT_TRUE(std::getline(in, line)) << "no journal record";
        const nlohmann::json job = nlohmann::json::parse(line);
        ASSERT_EQ(job["settings"].size(), 16u);
        for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(job["settings"][i]["result"], records[i]["result"]) << i;
        Printer().WaitForIdle(3000);
    }
}

TEST_F(CliTest, APrinterThatMayHaveChangedSpeedIsSaidSo) {
    // It takes the speed, but its answer is lost.
    StrictAt(Printer(), 9600);
    Printer().QueueBehaviour(Behaviour::Silent());
    const CommandResult lost = Cli({"set", "baud=115200", "darkness=4"});
    EXPECT_EQ(lost.status, 3);
    ASSERT_EQ(lost.Lines().size(), 2u) << lost.out;
    EXPECT_NE(lost.Lines()[0].find("may now listen at 115200"), std::string::npos) << lost.out;
    EXPECT_NE(lost.Lines()[0].find("morvane-cli probe -p " + Port()), std::string::npos) << lost.out;
    EXPECT_NE(lost.err.find("may now listen at 115200"), std::string::npos) << lost.err;
    EXPECT_EQ(Printer().CurrentBaud(), 115200);

    StrictAt(Printer(), 9600);
    Printer().QueueBehaviour(Behaviour::Silent());
    EXPECT_EQ(Json(Cli({"set", "baud=115200", "--json"}))[0]["may_listen_at"], 115200);

    // Taken and answered, then the job is cut off: the summary says where it went.
    StrictAt(Printer(), 9600);
    Printer().QueueBehaviour(Behaviour::Normal());
    Printer().QueueBehaviour(Behaviour::Silent());
    const CommandResult cut = Cli({"set", "baud=38400", "darkness=4", "beeper=on"});
    EXPECT_NE(cut.err.find("now listens at 38400"), std::string::npos) << cut.err;
}

TEST_F(CliTest, TwoCommandsOnOnePortNeverBothTakeAnAnswer) {
    Printer().SetBehaviour(Behaviour::Late(600));
    CommandResult first, second;
    const auto run = [&](CommandResult* r, const char* value) {
        *r = RunCli({"set", std::string("darkness=") + value, "-p", Port(), "--timeout", "1500", "--json"});
    };
    std::thread a(run, &first, "4");
    std::thread b(run, &second, "5");
    a.join();
    b.join();
    const CommandResult& winner = first.status == 0 ? first : second;
    const CommandResult& loser = first.status == 0 ? second : first;
    EXPECT_EQ(winner.status, 0) << first.out << second.out;
    EXPECT_EQ(loser.status, 3) << loser.out << loser.err;
    EXPECT_NE(loser.out.find("in use"), std::string::npos) << loser.out;
    EXPECT_EQ(Printer().FrameCount(), 1u) << "the second command sent on a port in use";
}

TEST_F(CliTest, ProbeLeavesTheLineAsItFoundIt) {
    StrictAt(Printer(), 2400);  // found last: every speed is tried
    const LineState before = MarkLine(Port());
    const CommandResult r = RunCli({"probe", "-p", Port(), "--timeout", "400", "--json"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(ReadLine(Port()) == before) << "probe left the line changed";
    for (const auto& frame : Printer().Frames()) EXPECT_EQ(vprinter::HexString(frame), "1D 46 74");
    // Without -p: never a plain serial port, which may be a console or a modem.
    const CommandResult all = RunCli({"probe", "--dry-run"});
    EXPECT_EQ(all.out.find("/dev/ttyS"), std::string::npos) << all.out;
}

TEST_F(CliTest, PermissionDeniedNamesTheGroupThatOwnsTheDevice) {
    const group* dialout = getgrnam("dialout");
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || dialout == nullptr || nobody == nullptr || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root, setpriv, and the users nobody and group dialout";
    ASSERT_EQ(chown(Port().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(Port().c_str(), 0660), 0);
    // A copy of the command that nobody may run, wherever the build is.
    char folder[] = "/tmp/morvane-cli-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string copy = std::string(folder) + "/morvane-cli";
    std::filesystem::copy_file(MORVANE_CLI, copy);
    chmod(folder, 0755);
    chmod(copy.c_str(), 0755);
    RunOptions run;
    run.prefix = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid), "--regid=" + std::to_string(nobody->pw_gid),
                  "--clear-groups"};
    run.program = copy;
    const CommandResult r = RunCli({"set", "darkness=4", "-p", Port()}, run);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("permission denied"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("group dialout"), std::string::npos) << r.out;
    EXPECT_EQ(Printer().FrameCount(), 0u);
}

TEST_F(CliTest, ResultsThatCannotBeWrittenExitFour) {
    RunOptions full;
    full.stdoutPath = "/dev/full";
    const CommandResult r = RunCli({"set", "darkness=4", "beeper=on", "-p", Port(), "--json"}, full);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
    EXPECT_EQ(Printer().FrameCount(), 1u) << "frames went on after the first record was lost";
}

TEST_F(CliTest, ControlCharactersFromThePrinterNeverReachTheTerminal) {
    Printer().SetName("\x1B[2J\n/dev/pts/0  darkness  ok");
    const CommandResult r = Cli({"get", "bt-name"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
    ASSERT_EQ(r.Lines().size(), 1u) << "a forged line: " << r.out;
    EXPECT_NE(r.out.find("\\e[2J\\n"), std::string::npos) << r.out;
}

}  // namespace
