// Standard output and error, a whole line at a time from any thread, each
// line flushed as it is written. A write that fails (a full disk, a closed
// pipe) is remembered: the command then ends with kExitOutputFailed.
#pragma once
#include <functional>
#include <mutex>  // std::lock_guard
#include <string>

#include "cli/system/mutex.h"

namespace morvane::cli {

class Console {
public:
    void Out(const std::string& line);
    void Err(const std::string& line);
    // Runs once, on the thread whose write failed first.
    void OnFailure(std::function<void()> onFailure);
    bool Failed() const;
    // "cannot write to standard output: No space left on device"
    std::string FailureText() const;

private:
    void Write(bool toOut, const std::string& line);
    mutable Mutex mu_;
    std::string failure_;
    std::function<void()> onFailure_;
};

Console& TheConsole();

}  // namespace morvane::cli
