// Child processes for the end-to-end tests: started with extra environment,
// ended by process id, every wait bounded, and sent `deathSignal` when the
// thread that started them ends, so a killed test leaves none behind.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { Kill(); }

    // Starts argv[0] (looked up in PATH) in `cwd`. With `pipes`, the child's
    // stdin and stdout are connected to this object (Send / ReadLine).
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& cwd, bool pipes, int deathSignal = SIGKILL);
    pid_t Pid() const { return pid_; }
    bool Running();
    // Waits for the child to end on its own; false on time-out.
    bool WaitExit(int timeoutMs, int* status = nullptr);
    void Kill();

    bool Send(const std::string& line);
    // Closes the child's stdin (with `pipes`): its end-of-input.
    void CloseInput();
    // One line from the child's stdout, without its newline; false on time-out or EOF.
    bool ReadLine(std::string* line, int timeoutMs);

private:
    pid_t pid_ = -1;
    int exitStatus_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string pending_;
};

}  // namespace e2e
