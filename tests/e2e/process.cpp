#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace e2e {

bool Process::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& cwd, bool pipes) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipes && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        // Own process group, so that Kill() also ends anything the child starts.
        setpgid(0, 0);
        if (pipes) {
            dup2(in[0], 0);
            dup2(out[1], 1);
        } else {
            int devnull = open("/dev/null", O_RDONLY);
            if (devnull >= 0) dup2(devnull, 0);
        }
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    if (pipes) {
        close(in[0]);
        close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
    }
    return true;
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
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
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
