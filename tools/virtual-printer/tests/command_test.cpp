// The virtual-printer command as a newcomer runs it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pty_client.h"

namespace {

using vprinter_test::Bytes;
using vprinter_test::Hex;
using vprinter_test::PtyClient;

// A child process with its standard output on a pipe; ended by pid.
class Command {
public:
    explicit Command(const std::vector<std::string>& args) : args_(args) {
        // Everything the child needs is built before fork(): only
        // async-signal-safe calls after it.
        args_.insert(args_.begin(), VPRINTER_COMMAND);
        std::vector<char*> argv;
        for (auto& a : args_) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int devnull = open("/dev/null", O_WRONLY);
            if (devnull >= 0) dup2(devnull, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    ~Command() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    // Standard output up to the next newline, or what came within timeoutMs.
    std::string ReadLine(int timeoutMs) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    // Standard output until the program closes it, within timeoutMs.
    std::string ReadAll(int timeoutMs) {
        std::string all;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[512];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            all.append(buffer, static_cast<std::size_t>(n));
        }
        return all;
    }
    // Exit status, or -1 when still running after timeoutMs.
    int Wait(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    void Signal(int signal) { kill(pid_, signal); }

private:
    std::vector<std::string> args_;
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
};

TEST(Command, HelpExplainsTheOptions) {
    Command command({"--help"});
    const std::string help = command.ReadAll(3000);
    EXPECT_EQ(command.Wait(3000), 0);
    for (const char* option :
         {"--link", "--log", "--name", "--address", "--password", "--fault", "--delay", "--piece-size",
          "--value-length", "--stray", "--reopen-after", "silent", "hangup", "--pace", "--baud", "--strict-speed"}) {
        EXPECT_NE(help.find(option), std::string::npos) << "--help does not mention " << option;
    }
}

TEST(Command, RefusesUnknownOptions) {
    Command command({"--colour", "blue"});
    EXPECT_EQ(command.Wait(3000), 2);
    Command fault({"--fault", "sulky"});
    EXPECT_EQ(fault.Wait(3000), 2);
    Command speed({"--baud", "9601"});
    EXPECT_EQ(speed.Wait(3000), 2);
}

TEST(Command, ServesALinkUntilTerminated) {
    const auto dir = std::filesystem::temp_directory_path() / ("vprinter-cmd-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto link = dir / "com1";
    const auto logPath = dir / "printer.log";
    Command command({"--link", link.string(), "--log", logPath.string(), "--name", "Bench", "--fault", "prefix11"});
    const std::string path = command.ReadLine(5000);
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << "first line: " << path;
    // The link is made right after the path is printed.
    for (int i = 0; i < 100 && !std::filesystem::is_symlink(link); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

    {
        PtyClient client;
        ASSERT_TRUE(client.Open(link.string()));
        ASSERT_TRUE(client.Write({0x1D, 0x46, 0x72, 0x00}));
        EXPECT_EQ(Hex(client.ReadUpTo(10, 2000)), "11 1D 46 72 05 42 65 6E 63 68");
    }

    command.Signal(SIGTERM);
    EXPECT_EQ(command.Wait(5000), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "link left behind";
    std::ifstream log(logPath);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("rx 1D 46 72 00"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("tx 11 1D 46 72 05"), std::string::npos) << text.str();
    std::filesystem::remove_all(dir);
}

TEST(Command, PrintsTheNewPathAfterAHangup) {
    Command command({"--fault", "hangup", "--reopen-after", "100"});
    const std::string first = command.ReadLine(5000);
    ASSERT_EQ(first.rfind("/dev/", 0), 0u) << "first line: " << first;
    PtyClient client;
    ASSERT_TRUE(client.Open(first));
    ASSERT_TRUE(client.Write({0x1D, 0x46, 0x7C, 0x01}));
    EXPECT_TRUE(client.SeesHangup(2000));
    const std::string second = command.ReadLine(5000);
    EXPECT_EQ(second.rfind("/dev/", 0), 0u) << "second line: " << second;
    EXPECT_NE(second, first);
    command.Signal(SIGINT);
    EXPECT_EQ(command.Wait(5000), 0);
}

}  // namespace
