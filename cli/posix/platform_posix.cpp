// The command's platform pieces on POSIX.
#include "cli/system/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void PrepareConsole() {}

void RestoreConsole() {}

void WatchStopSignals(std::function<void(int status, bool atOnce)> onStop) {
    std::signal(SIGPIPE, SIG_IGN);
    // Blocked here, and so in every thread started later: only sigwait()
    // below takes them.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops, onStop = std::move(onStop)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&stops, &signal) != 0) continue;
            onStop(signal == SIGINT ? kExitInterrupted : kExitTerminated, false);
        }
    }).detach();
}

void EndNow(int status) { _exit(status); }

void RunInParallel(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job) {
    const std::size_t workers = std::clamp<std::size_t>(maxAtOnce, 1, std::max<std::size_t>(count, 1));
    if (count == 0) return;
    if (workers == 1) {
        for (std::size_t i = 0; i < count; ++i) job(i);
        return;
    }
    // A job that throws ends the batch with its error, on this thread: no
    // new job starts, and the ones running end first.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;  // set once, by whoever flips `failed`
    const auto work = [&] {
        for (std::size_t i = next++; i < count && !failed; i = next++) {
            try {
                job(i);
            } catch (...) {
                if (!failed.exchange(true)) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < workers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: those there take the rest
        }
    }
    if (threads.empty()) work();
    for (std::thread& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);
}

struct Thread::Impl {
    std::atomic<bool> done{false};
    std::thread thread;
};

Thread::Thread(std::function<void()> job) : impl_(std::make_unique<Impl>()) {
    Impl* impl = impl_.get();
    impl_->thread = std::thread([impl, job = std::move(job)] {
        job();
        impl->done = true;
    });
}

Thread::~Thread() {
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool Thread::Done() const { return impl_->done; }

void PauseMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string StateFolder() {
    // The session's runtime folder when there is one; else one in /tmp
    // named for the user, used only when it is truly the user's own.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] == '/'
                                   ? std::string(runtime) + "/morvane-cli"
                                   : "/tmp/morvane-cli-" + std::to_string(geteuid());
    mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 0077) != 0)
        return {};
    return folder;
}

std::string DeviceInstance(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    // A node made anew gets a new change time.
    return std::to_string(st.st_rdev) + "-" + std::to_string(st.st_ino) + "-" + std::to_string(st.st_ctim.tv_sec) +
           "." + std::to_string(st.st_ctim.tv_nsec);
}

bool SecureRandomBytes(unsigned char* out, std::size_t count) {
    while (count > 0) {
        const ssize_t got = getrandom(out, count, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string UserName() {
    const passwd* user = getpwuid(geteuid());
    return user != nullptr ? user->pw_name : std::to_string(geteuid());
}

}  // namespace morvane::cli
