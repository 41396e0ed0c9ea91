// morvane-cli.exe, the Windows build of the command, under Wine: over a COM
// link and through the port library.
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "tcp_printers.h"
#include "tests/common/tcp_cases.h"

using namespace e2e;

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

// Another Windows program, in the run folder as the command runs there.
class CliWineTest : public CliFixture {
protected:
    CliRun RunWindows(const std::string& program, const std::vector<std::string>& args, int timeoutMs = 60000) {
        std::vector<std::string> argv = {"wine", program};
        argv.insert(argv.end(), args.begin(), args.end());
        Process p;
        CliRun run;
        if (!p.Start(argv, WineEnv(), folder_->Path(), true)) return run;
        std::string line;
        while (p.ReadLine(&line, timeoutMs)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            run.lines.push_back(line);
        }
        int status = 0;
        if (p.WaitExit(timeoutMs, &status) && WIFEXITED(status)) run.status = WEXITSTATUS(status);
        return run;
    }
};

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

// A new journal is for its owner alone, as 0600 on Linux. Wine keeps no
// access list of a file's own: it shows the one the file's mode stands for,
// with SYSTEM, which it gives every file. A journal that took the folder's
// permissions would show Everyone (WD) too.
TEST_F(CliWineTest, ANewJournalIsForItsOwnerAlone) {
    PrepareFolder();
    const CliRun set = RunCli({"set", "darkness=4", "-p", "COM1", "--journal", "shift.jsonl", "--json"});
    EXPECT_EQ(set.status, 0) << Joined(set.lines);
    const CliRun access = RunWindows(Paths::WinTestBuild() + "/tests/win/file_access.exe", {"shift.jsonl"});
    ASSERT_EQ(access.status, 0) << Joined(access.lines);
    ASSERT_EQ(access.lines.size(), 2u) << Joined(access.lines);
    const std::string& user = access.lines[0];
    const std::string& dacl = access.lines[1];
    ASSERT_EQ(dacl.rfind("D:", 0), 0u) << dacl;
    std::vector<std::string> trustees;
    for (std::size_t at = dacl.find('('); at != std::string::npos; at = dacl.find('(', at + 1)) {
        const std::string ace = dacl.substr(at + 1, dacl.find(')', at) - at - 1);
        trustees.push_back(ace.substr(ace.rfind(';') + 1));
        if (trustees.back() == user) {
            EXPECT_EQ(ace, "A;;FA;;;" + user);
        }
    }
    std::sort(trustees.begin(), trustees.end());
    EXPECT_TRUE(trustees == (std::vector<std::string>{user, "SY"}) || trustees == std::vector<std::string>{user})
        << dacl;
}

// Winsock under Wine against a printer on TCP: the records of the native
// command, case by case (tests/common/tcp_cases.h).
TEST_F(CliFixture, NetworkPrinterOverWinsock) {
    PrepareFolder();
    for (const morvane::test::TcpCase& c : morvane::test::TcpCases()) {
        SCOPED_TRACE(c.name);
        vprinter::TcpPrinters printer;
        std::string error;
        ASSERT_TRUE(printer.Start("127.0.0.1", 0, 1, &error)) << error;
        for (const vprinter::Behaviour& b : c.queued) printer.QueueBehaviour(0, b);
        printer.SetBehaviour(0, c.run);
        std::vector<std::string> args;
        for (const std::string& a : c.args) {
            if (a == "{profile}") folder_->WriteFile("network.profile", c.profile);
            args.push_back(a == "{profile}" ? "network.profile" : a);
        }
        args.insert(args.end(), {"-p", printer.Url(0), "--json"});
        if (std::find(args.begin(), args.end(), "--timeout") == args.end())
            args.insert(args.end(), {"--timeout", "300"});
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.status, c.status) << Joined(run.lines);
        ASSERT_EQ(run.lines.size(), c.results.size()) << Joined(run.lines);
        bool detailSeen = std::string(c.detail).empty();
        for (std::size_t i = 0; i < run.lines.size(); ++i) {
            const nlohmann::json record = nlohmann::json::parse(run.lines[i]);
            EXPECT_EQ(record["result"], c.results[i]) << run.lines[i];
            const std::string detail = record.value("detail", "");
            // Wine's recv() reports a reset connection as closed; Windows says reset.
            detailSeen = detailSeen || detail.find(c.detail) != std::string::npos ||
                         (std::string(c.detail) == "the connection was reset" &&
                          detail.find("the printer closed the connection") != std::string::npos);
            if (c.args[0] == "get" && i == 1) {
                EXPECT_EQ(record["value"], printer.GetSettings(0).address);
            }
        }
        EXPECT_TRUE(detailSeen) << "no record says \"" << c.detail << "\": " << Joined(run.lines);
        if (c.args[0] == "apply") {
            EXPECT_EQ(printer.GetSettings(0).name, "Till 1");
        }
        EXPECT_EQ(printer.Connections(0), 1u) << "one connection per job";
        printer.WaitForIdle(3000);
    }
}

// The machine check as far as it goes on Windows: COM1, named, opens; a
// plain serial port not named is not opened (Wine links one to the
// machine's own serial port); the journal's folder may be written; what is
// not looked at says so. Nothing reaches the printer.
TEST_F(CliFixture, DoctorOnWindows) {
    PrepareFolder();
    const CliRun run = RunCli({"doctor", "--json", "-p", "COM1", "--journal", "shift.jsonl"});
    EXPECT_EQ(run.status, 0) << Joined(run.lines);
    std::map<std::string, std::string> status;
    for (const std::string& line : run.lines) {
        const nlohmann::json j = nlohmann::json::parse(line);
        status[j["check"].get<std::string>() + " " + j.value("subject", "")] = j["status"];
        EXPECT_NE(j["status"], "problem") << line;
    }
    EXPECT_EQ(status["port-access COM1"], "ok") << Joined(run.lines);
    for (const auto& [check, result] : status)
        if (check.rfind("port-access COM", 0) == 0 && check != "port-access COM1") {
            EXPECT_EQ(result, "not-checked") << check;
        }
    EXPECT_EQ(status["print-queue "], "not-checked") << Joined(run.lines);
    EXPECT_EQ(status["autosuspend "], "not-checked") << Joined(run.lines);
    bool journal = false;
    for (const auto& [check, result] : status) journal = journal || (check.rfind("journal ", 0) == 0 && result == "ok");
    EXPECT_TRUE(journal) << Joined(run.lines);
    EXPECT_EQ(printer_->FrameCount(), 0u) << "the check sent a frame";

    const CliRun rule = RunCli({"doctor", "--udev-rule", "usb:0416:5011"});
    EXPECT_EQ(rule.status, 0) << Joined(rule.lines);
    EXPECT_FALSE(rule.lines.empty());
}

}  // namespace
