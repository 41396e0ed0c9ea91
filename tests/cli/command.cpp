#include "command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

extern char** environ;

namespace clitest {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 5;  // how often signalWhen() is asked
}  // namespace

std::vector<std::string> CommandResult::Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

CommandResult RunCli(const std::vector<std::string>& args, const std::string& input, int timeoutMs) {
    RunOptions options;
    options.input = input;
    options.timeoutMs = timeoutMs;
    return RunCli(args, options);
}

CommandResult RunCli(const std::vector<std::string>& args, const RunOptions& options) {
    CommandResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
    std::vector<std::string> argv = options.prefix;
    argv.push_back(options.program.empty() ? MORVANE_CLI : options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (options.stdoutPath.empty())
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int spawned = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    // The input is small: a profile at most.
    if (!options.input.empty()) [[maybe_unused]]
        ssize_t n = write(in[1], options.input.data(), options.input.size());
    close(in[1]);

    const auto deadline = start + std::chrono::milliseconds(options.timeoutMs);
    Clock::time_point signalled{};
    bool secondSent = false;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto now = Clock::now();
        if (now >= deadline) break;
        if (options.signalWhen && signalled == Clock::time_point{} && options.signalWhen()) {
            kill(pid, options.signal);
            signalled = Clock::now();
        }
        if (signalled != Clock::time_point{} && !secondSent && options.secondSignalAfterMs >= 0 &&
            now >= signalled + std::chrono::milliseconds(options.secondSignalAfterMs)) {
            kill(pid, options.signal);
            secondSent = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const bool watching = (options.signalWhen && signalled == Clock::time_point{}) ||
                              (options.secondSignalAfterMs >= 0 && !secondSent);
        if (poll(fds, 2, static_cast<int>(watching ? std::min<long long>(left, kSliceMs) : left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    int status = 0;
    if (open > 0) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    const auto end = Clock::now();
    result.seconds = std::chrono::duration<double>(end - start).count();
    if (signalled != Clock::time_point{})
        result.secondsAfterSignal = std::chrono::duration<double>(end - signalled).count();
    result.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status)) result.killedBy = WTERMSIG(status);
    return result;
}

}  // namespace clitest
