// `doctor` as a user runs it: a process named ModemManager (a copy of
// sleep under that name, in a folder of the test's own) is named with its
// fix, and the command exits 1; the udev rule for a selector; and the
// check sends nothing to a printer.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "cli_fixture.h"

namespace {

using namespace clitest;
namespace fs = std::filesystem;

// A harmless program under another name: /proc/PID/comm says that name.
class NamedProcess {
public:
    NamedProcess(const std::string& folder, const std::string& name) {
        const std::string copy = folder + "/" + name;
        std::error_code ec;
        fs::copy_file("/bin/sleep", copy, ec);
        if (ec) return;
        pid_ = fork();
        if (pid_ == 0) {
            execl(copy.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Named once it runs the copy: bounded, a few ms at most.
        for (int i = 0; i < 200 && pid_ > 0 && Comm() != name; ++i) usleep(5000);
    }
    ~NamedProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t Pid() const { return pid_; }
    std::string Comm() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/comm");
        std::string name;
        std::getline(in, name);
        return name;
    }

private:
    pid_t pid_ = -1;
};

class DoctorTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        char folder[] = "/tmp/morvane-doctor-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
    }
    void TearDown() override {
        fs::remove_all(folder_);
        CliTest::TearDown();
    }
    std::string folder_;
};

TEST_F(DoctorTest, AProcessNamedModemManagerIsNamedWithItsFixAndTheCheckFails) {
    NamedProcess modemManager(folder_, "ModemManager");
    ASSERT_GT(modemManager.Pid(), 0);
    ASSERT_EQ(modemManager.Comm(), "ModemManager");
    const std::string journal = folder_ + "/shift.jsonl";
    const CommandResult r = RunCli({"doctor", "--journal", journal});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string named = "ModemManager (pid " + std::to_string(modemManager.Pid());
    bool found = false;
    for (const std::string& line : r.Lines()) {
        if (line.find(named) == std::string::npos) continue;
        found = true;
        EXPECT_EQ(line.rfind("problem ", 0), 0u) << line;
        EXPECT_NE(line.find("; fix: "), std::string::npos) << line;
        EXPECT_NE(line.find("sudo systemctl disable --now ModemManager"), std::string::npos) << line;
        EXPECT_NE(line.find("morvane-cli doctor --udev-rule "), std::string::npos) << line;
    }
    EXPECT_TRUE(found) << r.out;

    // The same in JSON: one object a line.
    const CommandResult j = RunCli({"doctor", "--json", "--journal", journal});
    EXPECT_EQ(j.status, 1) << j.out << j.err;
    bool problem = false;
    std::set<std::string> checks;
    for (const nlohmann::json& object : Json(j)) {
        checks.insert(object["check"].get<std::string>());
        if (object["check"] == "modemmanager" && object["status"] == "problem") {
            problem = true;
            EXPECT_NE(object["text"].get<std::string>().find(named), std::string::npos) << object.dump();
            EXPECT_NE(object["fix"].get<std::string>().find("systemctl"), std::string::npos) << object.dump();
        }
    }
    EXPECT_TRUE(problem) << j.out;
    for (const char* check :
         {"port-access", "modemmanager", "brltty", "print-queue", "autosuspend", "udev-events", "journal"})
        EXPECT_EQ(checks.count(check), 1u) << check << " missing from\n" << j.out;
    EXPECT_EQ(Printer().FrameCount(), 0u) << "the check sent a frame";
    EXPECT_FALSE(fs::exists(journal)) << "the check made the journal";
}

// Whether a process of that name runs on the machine (another test's, or
// the machine's own ModemManager).
bool Runs(const std::string& name) {
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream in(it->path() / "comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name) return true;
    }
    return false;
}

TEST_F(DoctorTest, WithoutModemManagerItsLineIsOk) {
    const bool before = Runs("ModemManager");
    const CommandResult r = RunCli({"doctor", "--journal", folder_ + "/shift.jsonl"});
    if (before || Runs("ModemManager")) GTEST_SKIP() << "a ModemManager runs on this machine";
    EXPECT_NE(r.out.find("ok          modemmanager  ModemManager is not running"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("may make the journal in this folder"), std::string::npos) << r.out;
}

TEST_F(DoctorTest, TheUdevRuleForASelector) {
    const CommandResult r = RunCli({"doctor", "--udev-rule", "usb:0416:5011"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ATTR{power/control}=\"on\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("GROUP=\"dialout\", MODE=\"0660\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/etc/udev/rules.d/"), std::string::npos) << r.out;

    const CommandResult bad = RunCli({"doctor", "--udev-rule", "bt:00:11:22:33:44:55"});
    EXPECT_EQ(bad.status, 2) << bad.out;
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("a udev rule names USB devices"), std::string::npos) << bad.err;
}

}  // namespace
