// A port that a serial tool holds by a UUCP lock file (LCK..NAME, as
// minicom leaves it) is in use; a lock file whose process is gone is not.
// The command reads the lock folder named by MORVANE_LOCK_DIR, a folder of
// this test's own: the machine's /run/lock is never written.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "cli_fixture.h"

namespace {

using namespace clitest;

// A process named like the tool whose lock it stands for, once it has its name.
pid_t StartHolder(const char* name) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, name);
        alarm(60);  // gone even if the test is
        close(ready[1]);
        for (;;) pause();
    }
    close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    poll(&p, 1, 5000);  // the end of the pipe: the child is named
    close(ready[0]);
    return pid;
}

// The id of a process that has ended and been reaped.
pid_t GonePid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

void WriteLock(const std::string& file, pid_t pid, bool binary) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr) << file;
    if (binary) {
        const std::int32_t value = pid;
        std::fwrite(&value, sizeof value, 1, f);
    } else {
        std::fprintf(f, "%10d minicom root\n", static_cast<int>(pid));
    }
    std::fclose(f);
}

TEST_F(CliTest, APortWithALiveUucpLockIsInUseAndAStaleLockIsNot) {
    char folder[] = "/tmp/morvane-locks-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const pid_t holder = StartHolder("minicom");
    ASSERT_GT(holder, 0);
    const pid_t gone = GonePid();
    ASSERT_EQ(kill(gone, 0), -1);
    ASSERT_EQ(errno, ESRCH);

    const std::string port = Port();  // /dev/pts/N
    const std::string byName = "LCK.." + std::filesystem::path(port).filename().string();
    std::string underDev = port.substr(std::string("/dev/").size());
    std::replace(underDev.begin(), underDev.end(), '/', '_');
    const struct {
        std::string file;
        pid_t pid;
        bool binary;
        bool inUse;
    } cases[] = {
        {byName, holder, false, true},
        {"LCK.." + underDev, holder, true, true},
        {byName, gone, false, false},
        {"LCK.." + underDev, gone, true, false},
    };
    std::size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + (c.binary ? " binary" : " ascii") + (c.inUse ? " live" : " stale"));
        const std::string lock = std::string(folder) + "/" + c.file;
        WriteLock(lock, c.pid, c.binary);
        RunOptions run;
        run.prefix = {"env", std::string("MORVANE_LOCK_DIR=") + folder};
        const CommandResult r = RunCli({"set", "darkness=4", "-p", port, "--timeout", "300"}, run);
        std::filesystem::remove(lock);
        if (c.inUse) {
            EXPECT_EQ(r.status, 3) << r.out << r.err;
            EXPECT_NE(r.out.find("in use by minicom (pid " + std::to_string(holder) + ")"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(c.file), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            ++sent;
        }
        EXPECT_EQ(Printer().FrameCount(), sent) << "a frame went to a port in use";
    }
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    std::filesystem::remove_all(folder);
}

}  // namespace
