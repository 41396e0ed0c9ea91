// morvane-cli.exe, the Windows build of the command, under Wine: over a COM
// link and through the port library.
#include <sys/wait.h>

#include "cli_fixture.h"

using namespace e2e;

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST_F(CliFixture, SetAndReadOverCom) {
    PrepareFolder();
    printer_->SetName("Till-9");
    const CliRun set = RunCli({"set", "darkness=4", "bt-visible=hidden", "-p", "COM1", "--json"});
    EXPECT_EQ(set.status, 0) << Joined(set.lines);
    ASSERT_EQ(set.lines.size(), 2u) << Joined(set.lines);
    EXPECT_NE(set.lines[0].find("\"result\":\"ok\""), std::string::npos) << set.lines[0];
    EXPECT_EQ(printer_->GetSettings().darkness, 4);
    EXPECT_EQ(printer_->GetSettings().visibility, 1);

    printer_->QueueBehaviour(vprinter::Behaviour::Normal());
    printer_->QueueBehaviour(vprinter::Behaviour::Prefix11());
    const CliRun get = RunCli({"get", "bt-name", "bt-address", "-p", "COM1:", "--json"});
    EXPECT_EQ(get.status, 0) << Joined(get.lines);
    ASSERT_EQ(get.lines.size(), 2u) << Joined(get.lines);
    EXPECT_NE(get.lines[0].find("\"value\":\"Till-9\""), std::string::npos) << get.lines[0];
    EXPECT_NE(get.lines[1].find(printer_->GetSettings().address), std::string::npos) << get.lines[1];

    printer_->QueueBehaviour(vprinter::Behaviour::AnswerFF());
    EXPECT_EQ(RunCli({"set", "beeper=off", "-p", "\\\\.\\COM1"}).status, 1);
}

TEST_F(CliFixture, SetAndReadThroughThePortLibrary) {
    PrepareFolder(true);
    const CliRun set = RunCli({"set", "paper-width=58", "-p", "USB1:", "--json"});
    EXPECT_EQ(set.status, 0) << Joined(set.lines);
    EXPECT_EQ(printer_->GetSettings().paperWidth, 2);
    EXPECT_EQ(LastFrame(), "1d 46 88 02");

    const CliRun get = RunCli({"get", "bt-password", "-p", "USB1:", "--json"});
    EXPECT_EQ(get.status, 0) << Joined(get.lines);
    ASSERT_EQ(get.lines.size(), 1u);
    EXPECT_NE(get.lines[0].find("\"value\":\"1234\""), std::string::npos) << get.lines[0];

    printer_->QueueBehaviour(vprinter::Behaviour::Silent());
    EXPECT_EQ(RunCli({"set", "darkness=2", "-p", "USB1:", "--timeout", "500"}).status, 3);
}

}  // namespace
