// The command's platform pieces on POSIX.
#include "cli/platform.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace morvane::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareConsole() {}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void RunInParallel(std::size_t count, const std::function<void(std::size_t)>& job, const std::function<void()>& tick,
                   unsigned tickMs) {
    if (count == 1) {
        job(0);
        return;
    }
    std::mutex mu;
    std::condition_variable cv;
    std::size_t left = count;
    std::vector<std::thread> threads;
    const auto run = [&](std::size_t i) {
        job(i);
        std::lock_guard<std::mutex> lock(mu);
        if (--left == 0) cv.notify_all();
    };
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (const std::system_error&) {
            run(i);  // no thread to be had: run it here
        }
    }
    {
        std::unique_lock<std::mutex> lock(mu);
        while (!cv.wait_for(lock, std::chrono::milliseconds(tickMs), [&] { return left == 0; })) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }
    for (std::thread& t : threads) t.join();
}

}  // namespace morvane::cli
