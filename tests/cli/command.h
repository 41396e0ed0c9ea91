// Runs the native morvane-cli as a child process and collects what it
// printed and its exit status; every run is bounded and ends by process id.
#pragma once
#include <string>
#include <vector>

namespace clitest {

struct CommandResult {
    int status = -1;  // exit status; -1 when it had to be killed
    std::string out;  // standard output
    std::string err;  // standard error
    double seconds = 0;
    std::vector<std::string> Lines() const;  // of standard output
};

CommandResult RunCli(const std::vector<std::string>& args, const std::string& input = {}, int timeoutMs = 20000);

}  // namespace clitest
