// The native morvane-cli against virtual printers over real
// pseudo-terminals: what reaches the printer, what the command reports, and
// its exit status.
#include <sstream>

#include "cli_fixture.h"

namespace {

using namespace clitest;

TEST_F(CliTest, AProfileSetsEverySettingOnThePrinter) {
    const CommandResult r = Cli({"apply", WriteProfile(kEverySetting), "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = Json(r);
    ASSERT_EQ(lines.size(), 16u);
    for (const auto& line : lines) {
        EXPECT_EQ(line["result"], "ok") << line.dump();
        EXPECT_EQ(line["port"], Port());
    }
    EXPECT_EQ(lines[0]["value"], "Shop 7");
    const vprinter::Settings s = Printer().GetSettings();
    EXPECT_EQ(s.name, "Shop 7");
    EXPECT_EQ(s.password, "4321");
    EXPECT_EQ(s.visibility, 0);
    EXPECT_EQ(s.btMode, 1);
    EXPECT_EQ(s.darkness, 4);
    EXPECT_EQ(s.beeper, 1);
    EXPECT_EQ(s.sleepTime, 200);
    EXPECT_EQ(s.chineseCode, 0xAA);
    EXPECT_EQ(s.markSensitivity, 7);
    EXPECT_EQ(s.gapSensitivity, 3);
    EXPECT_EQ(s.position, -28);
    EXPECT_EQ(s.language, 1);
    EXPECT_EQ(s.paperSensor, 5);
    EXPECT_EQ(s.commandSet, 1);
    EXPECT_EQ(s.paperWidth, 4);
    EXPECT_EQ(s.baudRate, 3);
    EXPECT_EQ(s.setCodes.size(), 16u);
    EXPECT_EQ(Printer().FrameCount(), 16u);
}

TEST_F(CliTest, SetTakesKeysInOrderAndSaysItInOneLineEach) {
    const CommandResult r = Cli({"set", "darkness=5", "bt-visible=Unvisiable", "paper-width=114"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 3u) << r.out;
    // Field by field: the port's name is the machine's to choose.
    std::istringstream fields(lines[0]);
    std::string port, key, value, result, ms, unit;
    fields >> port >> key >> value >> result >> ms >> unit;
    EXPECT_EQ(port, Port()) << lines[0];
    EXPECT_EQ(key + " " + value + " " + result + " " + unit, "darkness 5 ok ms") << lines[0];
    EXPECT_EQ(ms.find_first_not_of("0123456789"), std::string::npos) << lines[0];
    const auto frames = Printer().Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(vprinter::HexString(frames[0]), "1D 46 7C 05");
    EXPECT_EQ(vprinter::HexString(frames[1]), "1D 46 73 01");
    EXPECT_EQ(vprinter::HexString(frames[2]), "1D 46 88 05");
}

TEST_F(CliTest, ReadsTheThreeTextsIncludingThePrefixedForm) {
    Printer().SetName("Counter 2");
    Printer().QueueBehaviour(Behaviour::Normal());
    Printer().QueueBehaviour(Behaviour::Prefix11());  // the address, as some printers answer on COM
    const CommandResult r = Cli({"get", "bt-name", "bt-address", "bt-password", "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = Json(r);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["value"], "Counter 2");
    EXPECT_EQ(lines[0]["hex"], "43 6F 75 6E 74 65 72 20 32");
    EXPECT_EQ(lines[1]["value"], Printer().GetSettings().address);
    EXPECT_EQ(lines[2]["value"], "1234");
}

TEST_F(CliTest, ABadTextIsShownAsValidUtf8AndKeptInHex) {
    Printer().SetName(
        std::string("A\xFF"
                    "B",
                    3));
    const CommandResult r = Cli({"get", "bt-name", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Json(r);  // parse() throws on invalid UTF-8
    EXPECT_EQ(lines[0]["value"],
              "A\xEF\xBF\xBD"
              "B");
    EXPECT_EQ(lines[0]["hex"], "41 FF 42");
}

TEST_F(CliTest, VerifyReadsTextsBack) {
    const CommandResult r = Cli({"set", "bt-name=Till-3", "--verify", "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Json(r)[0]["detail"], "verified");
    ASSERT_EQ(Printer().FrameCount(), 2u);
    EXPECT_EQ(vprinter::HexString(Printer().Frames()[1]), "1D 46 72 00");
}

struct FaultCase {
    const char* name;
    Behaviour behaviour;
    const char* result;
    int status;
};

TEST_F(CliTest, FaultsEndWithinTheTimeOutAndSetTheExitStatus) {
    const FaultCase cases[] = {
        {"refused", Behaviour::AnswerFF(), "refused", 1},
        {"silent", Behaviour::Silent(), "no-answer", 3},
        {"cut off", Behaviour::Truncated(3), "no-answer", 3},
        {"five-byte status", Behaviour::WrongLength(1), "no-answer", 3},
        {"stray bytes first", Behaviour::Stray(), "no-answer", 3},
        {"late", Behaviour::Late(1000), "no-answer", 3},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        Printer().ClearBehaviours();
        Printer().QueueBehaviour(c.behaviour);
        const CommandResult r = Cli({"set", "darkness=3", "--json"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        ASSERT_EQ(Json(r).size(), 1u);
        EXPECT_EQ(Json(r)[0]["result"], c.result);
        EXPECT_LT(r.seconds, 5.0) << "the 300 ms time-out was not kept";
        Printer().WaitForIdle(3000);
    }
    // After all that the printer is reached as ever, and 3 wins over 1. A
    // refusal does not stop the job, a no-answer does: the printer's state
    // is unknown from there on.
    Printer().ClearBehaviours();
    Printer().ClearFrames();
    Printer().QueueBehaviour(Behaviour::AnswerFF());
    Printer().QueueBehaviour(Behaviour::Silent());
    const CommandResult mixed = Cli({"set", "darkness=3", "beeper=on", "sleep=1", "--json"});
    EXPECT_EQ(mixed.status, 3) << mixed.out;
    ASSERT_EQ(Json(mixed).size(), 3u) << mixed.out;
    EXPECT_EQ(Json(mixed)[0]["result"], "refused");
    EXPECT_EQ(Json(mixed)[1]["result"], "no-answer");
    EXPECT_EQ(Json(mixed)[2]["result"], "not-sent");
    EXPECT_EQ(Printer().FrameCount(), 2u) << "a key after the no-answer was sent";
    EXPECT_NE(mixed.err.find("1 refused, 1 no-answer, 0 error, 1 not-sent"), std::string::npos) << mixed.err;
}

TEST_F(CliTest, BadUsageExitsTwoNamesTheCulpritAndSendsNothing) {
    const std::string bad = WriteProfile("darkness = 4\nbeeper: on\n");
    const std::string twice = WriteProfile("darkness = 4\nsleep = 3\ndarkness = 5\n");
    const std::string huge = WriteProfile(std::string(1 << 20, '#') + "\ndarkness = 4\n");
    const std::string latin1 = WriteProfile("bt-name = Caf\xE9\n");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"frobnicate"}, "frobnicate"},
        {{"set", "dark=4"}, "dark"},
        {{"set", "darkness=4", "sleep=300"}, "sleep \"300\""},
        {{"set", "paper-width=45"}, "45"},
        {{"set", "bt-name=abcdefghijklmnopqrstu"}, "21 bytes"},
        {{"set", "bt-address=00:11"}, "read only"},
        {{"get", "darkness"}, "cannot be read"},
        {{"apply", bad}, bad + ":2"},
        {{"apply", twice}, twice + ":3"},
        {{"apply", "/nonexistent/profile.txt"}, "/nonexistent/profile.txt"},
        {{"set", "darkness=4", "-p", "COM3"}, "COM3"},
        {{"set", "darkness=4", "-p", "nothing-at-all"}, "nothing-at-all"},
        {{"set", "darkness=4", "--codepage", "klingon"}, "klingon"},
        {{"set", "darkness=4", "-p", Port()}, "given twice"},
        {{"-p", Port(), "frobnicate"}, "unknown command \"frobnicate\""},
        {{"apply", "/dev/zero"}, "/dev/zero is not a regular file"},
        {{"apply", Port()}, Port() + " is not a regular file"},
        {{"apply", huge}, huge + ": larger than 1 MiB"},
        {{"apply", latin1}, "not valid UTF-8"},
        {{"set", "bt-name=\xFF"}, "not valid UTF-8"},
        {{"set", "bt-name=x", "--codepage", "UTF-16"}, "UTF-16\" does not keep ASCII"},
        {{"set", "darkness=4", "--baud", "1200"}, "2400 4800 9600 19200 38400 57600 115200"},
    };
    for (const auto& c : cases) {
        const CommandResult r = Cli(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << "expected \"" << c.says << "\" in: " << r.err;
        EXPECT_LT(r.seconds, 1.0) << c.says << ": bad input must be told at once";
    }
    // Standard input is read in pieces, under the same bound as a file.
    const CommandResult flood = Cli({"apply", "-"}, std::string((1 << 20) + 1, '#'));
    EXPECT_EQ(flood.status, 2) << flood.err;
    EXPECT_NE(flood.err.find("standard input: larger than 1 MiB"), std::string::npos) << flood.err;
    EXPECT_EQ(Printer().FrameCount(), 0u) << "a frame was sent on bad usage";
}

TEST_F(CliTest, DryRunPrintsFramesAndOpensNothing) {
    const CommandResult r =
        Cli({"--dry-run", "set", "bt-name=Shop {n}", "position=300", "chinese=Tranditional Chinese"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("1D 46 72 06 53 68 6F 70 20 31"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("1D 46 82 00 00 00 01 2C"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("1D 46 AA"), std::string::npos) << lines[2];
    EXPECT_EQ(Printer().FrameCount(), 0u);
}

TEST_F(CliTest, FourPrintersAtOnceEachWithItsOwnName) {
    for (int i = 0; i < 3; ++i) AddPrinter();
    const std::string ports = Port(0) + "," + Port(1) + "," + Port(2);
    const CommandResult r = RunCli({"set", "bt-name=Shop-{n}", "darkness=5", "-p", ports, "--port", Port(3), "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Json(r).size(), 8u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Printer(i).GetSettings().name, "Shop-" + std::to_string(i + 1));
        EXPECT_EQ(Printer(i).GetSettings().darkness, 5);
    }
    EXPECT_NE(r.err.find("summary: 4 printers, 8 keys: 8 ok"), std::string::npos) << r.err;
}

TEST_F(CliTest, APrinterThatHangsUpFailsAloneWhileTheOthersCarryOn) {
    AddPrinter();
    Printer(0).QueueBehaviour(Behaviour::Hangup());
    const CommandResult r =
        RunCli({"set", "darkness=2", "beeper=off", "-p", Port(0) + "," + Port(1), "--timeout", "300", "--json"});
    EXPECT_EQ(r.status, 3) << r.out;
    auto ports = ByPort(r);
    ASSERT_EQ(ports[Port(0)].size(), 2u) << r.out;
    ASSERT_EQ(ports[Port(1)].size(), 2u) << r.out;
    EXPECT_NE(ports[Port(0)][0]["result"], "ok");
    EXPECT_EQ(ports[Port(0)][1]["result"], "not-sent");
    EXPECT_EQ(ports[Port(1)][0]["result"], "ok");
    EXPECT_EQ(ports[Port(1)][1]["result"], "ok");
    EXPECT_EQ(Printer(1).GetSettings().beeper, 1);

    const CommandResult missing = RunCli({"set", "darkness=2", "-p", "/dev/pts/no-such-pty", "-p", Port(1)});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(Printer(1).GetSettings().darkness, 2);
}

TEST_F(CliTest, ProbeFindsEachPrinterAtItsSpeed) {
    StrictAt(Printer(0), 19200);
    StrictAt(AddPrinter(), 2400);
    const CommandResult r = RunCli({"probe", "-p", Port(0), "-p", Port(1), "--timeout", "200", "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto ports = ByPort(r);
    ASSERT_EQ(ports.size(), 2u) << r.out;
    EXPECT_EQ(ports[Port(0)][0]["line_baud"], 19200);
    EXPECT_EQ(ports[Port(0)][0]["value"], Printer(0).GetSettings().address);
    EXPECT_EQ(ports[Port(1)][0]["line_baud"], 2400);
    // 9600 and 115200 were tried before 19200, in that order.
    const auto frames = Printer(0).Frames();
    EXPECT_EQ(frames.size(), 1u) << "frames at a wrong speed are not heard";

    const CommandResult none = RunCli({"probe", "-p", "/dev/pts/no-such-pty", "--timeout", "100"});
    EXPECT_EQ(none.status, 3);
}

TEST_F(CliTest, TheLineFollowsTheBaudSettingToTheEndOfTheProfile) {
    StrictAt(Printer(), 9600);
    // baud stands first, but goes last: everything else travels at 9600.
    const std::string profile = WriteProfile("baud = 115200\ndarkness = 1\nbeeper = off\n");
    const CommandResult r = Cli({"apply", profile, "--json"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = Json(r);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2]["key"], "baud");
    EXPECT_EQ(lines[2]["line_baud"], 115200);
    EXPECT_EQ(Printer().CurrentBaud(), 115200);
    EXPECT_EQ(Printer().GetSettings().darkness, 1);

    // A set goes in the order given, and the next settings follow at the new speed.
    const CommandResult next = RunCli({"set", "baud=19200", "darkness=3", "-p", Port(), "-b", "115200"});
    ASSERT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_NE(next.out.find("line now at 19200 baud"), std::string::npos) << next.out;
    EXPECT_EQ(Printer().GetSettings().darkness, 3);
    EXPECT_EQ(Printer().CurrentBaud(), 19200);
}

TEST_F(CliTest, TraceShowsEveryFrameAndReplyOnStandardError) {
    const CommandResult r = Cli({"--trace", "set", "darkness=4"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(Port() + " tx 1D 46 7C 04"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(Port() + " rx 1D 46 7C 00"), std::string::npos) << r.err;
}

}  // namespace
