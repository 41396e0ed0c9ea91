#include "cli/text/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morvane::cli {

void Console::Out(const std::string& line) { Write(true, line); }

void Console::Err(const std::string& line) { Write(false, line); }

void Console::OnFailure(std::function<void()> onFailure) {
    std::lock_guard<Mutex> lock(mu_);
    onFailure_ = std::move(onFailure);
}

bool Console::Failed() const {
    std::lock_guard<Mutex> lock(mu_);
    return !failure_.empty();
}

std::string Console::FailureText() const {
    std::lock_guard<Mutex> lock(mu_);
    return failure_;
}

void Console::Write(bool toOut, const std::string& line) {
    std::function<void()> notify;
    {
        std::lock_guard<Mutex> lock(mu_);
        std::FILE* stream = toOut ? stdout : stderr;
        const std::string text = line + "\n";
        errno = 0;
        // One write per line: lines from several printers stay whole.
        const bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
        if (ok || !failure_.empty()) return;
        const int code = errno;
        std::clearerr(stream);
        failure_ = std::string("cannot write to ") + (toOut ? "standard output" : "standard error") +
                   (code != 0 ? std::string(": ") + std::strerror(code) : std::string());
        notify = onFailure_;
    }
    if (notify) notify();
}

Console& TheConsole() {
    static Console* console = new Console;  // used up to the last moment of the process
    return *console;
}

}  // namespace morvane::cli
