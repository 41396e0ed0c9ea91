#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace e2e {

bool Process::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& cwd, bool pipes, int deathSignal) {
    // Everything the child needs is built here, before it exists: posix_spawn
    // allocates nothing between its fork and its exec.
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    // setpriv gives the child a parent-death signal before it becomes the
    // program, so the child goes with this process even if it is killed.
    std::vector<std::string> full = {"setpriv", "--pdeathsig", sigabbrev_np(deathSignal), "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : full) args.push_back(a.data());
    args.push_back(nullptr);

    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipes && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipes) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Own process group, so that Kill() also ends anything the child starts.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (pipes) {
        close(in[0]);
        close(out[1]);
    }
    if (rc != 0) {
        if (pipes) {
            close(in[1]);
            close(out[0]);
        }
        return false;
    }
    pid_ = pid;
    if (pipes) {
        toChild_ = in[1];
        fromChild_ = out[0];
    }
    return true;
}

void Process::CloseInput() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
}

bool Process::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        exitStatus_ = status;
        pid_ = -1;
        return false;
    }
    return r == 0;
}

bool Process::WaitExit(int timeoutMs, int* status) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status) *status = exitStatus_;
    return true;
}

void Process::Kill() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (toChild_ >= 0) close(toChild_);
    if (fromChild_ >= 0) close(fromChild_);
    toChild_ = fromChild_ = -1;
}

bool Process::Send(const std::string& line) {
    std::string s = line + "\n";
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(toChild_, s.data() + done, s.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Process::ReadLine(std::string* line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            *line = pending_.substr(0, nl);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            pending_.erase(0, nl + 1);
            return true;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fromChild_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = read(fromChild_, buf, sizeof buf);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace e2e
