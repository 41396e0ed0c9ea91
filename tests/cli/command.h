// Runs the native morvane-cli as a child process and collects what it
// printed and its exit status; every run is bounded and ends by process id.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace clitest {

struct CommandResult {
    int status = -1;   // exit status; -1 when it had to be killed
    int killedBy = 0;  // the signal that ended it, when one did
    std::string out;   // standard output
    std::string err;   // standard error
    double seconds = 0;
    double secondsAfterSignal = -1;          // from the first signal sent to the end
    std::vector<std::string> Lines() const;  // of standard output
};

struct RunOptions {
    std::string input;  // standard input
    int timeoutMs = 20000;
    std::vector<std::string> prefix;  // run the command under this, e.g. setpriv ...
    std::string program;              // another copy of the command; empty: the build's
    std::string stdoutPath;           // standard output to this file instead of a pipe
    // Sends `signal` once signalWhen() is true (asked every few ms while the
    // command runs), and a second one secondSignalAfterMs later when >= 0.
    std::function<bool()> signalWhen;
    int signal = 0;
    int secondSignalAfterMs = -1;
};

CommandResult RunCli(const std::vector<std::string>& args, const RunOptions& options);
CommandResult RunCli(const std::vector<std::string>& args, const std::string& input = {}, int timeoutMs = 20000);

}  // namespace clitest
