// The command's platform pieces on Windows.
#include "cli/system/platform.h"

#include <windows.h>
#include <shellapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "cli/windows/utf16.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

struct Workers {
    const std::function<void(std::size_t)>* job;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure{};  // set once, by whoever flips `failed`
};

// A job that throws ends the batch with its error: no new job starts, and
// RunInParallel throws it once the running ones have ended.
DWORD WINAPI Work(void* param) {
    Workers* w = static_cast<Workers*>(param);
    for (std::size_t i = w->next++; i < w->count && !w->failed; i = w->next++) {
        try {
            (*w->job)(i);
        } catch (...) {
            if (!w->failed.exchange(true)) w->failure = std::current_exception();
        }
    }
    return 0;
}

UINT g_foundOutputCodePage = 0;
std::function<void(int, bool)>* g_onStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (g_onStop == nullptr) return FALSE;
    switch (event) {
        case CTRL_C_EVENT: (*g_onStop)(kExitInterrupted, false); return TRUE;
        case CTRL_BREAK_EVENT: (*g_onStop)(kExitTerminated, false); return TRUE;
        // The system ends the process once the handler returns: record and
        // put back everything now.
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: (*g_onStop)(kExitTerminated, true); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

// The arguments as typed, whatever the ANSI code page: argv holds them only
// in that code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

void PrepareConsole() {
    g_foundOutputCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
}

void RestoreConsole() {
    if (g_foundOutputCodePage != 0) SetConsoleOutputCP(g_foundOutputCodePage);
}

// The console runs the handler on a thread of its own, as the POSIX side's
// signal thread does.
void WatchStopSignals(std::function<void(int status, bool atOnce)> onStop) {
    g_onStop = new std::function<void(int, bool)>(std::move(onStop));  // lives as long as the process
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    _exit(status);
}

void RunInParallel(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job) {
    const std::size_t workers = std::clamp<std::size_t>(maxAtOnce, 1, std::max<std::size_t>(count, 1));
    if (count == 0) return;
    Workers shared{&job, count};
    if (workers == 1) {
        Work(&shared);
        if (shared.failure) std::rethrow_exception(shared.failure);
        return;
    }
    std::vector<HANDLE> threads;
    std::vector<ScopedHandle> owners;  // closed once every wait below is over
    for (std::size_t i = 0; i < workers; ++i) {
        HANDLE t = CreateThread(nullptr, 0, Work, &shared, 0, nullptr);
        if (t == nullptr) break;  // those there take the rest
        threads.push_back(t);
        owners.emplace_back(t);
    }
    if (threads.empty()) Work(&shared);
    // WaitForMultipleObjects takes at most 64 handles at a time; a failed
    // wait never leaves a worker running on what is freed below.
    for (std::size_t at = 0; at < threads.size(); at += MAXIMUM_WAIT_OBJECTS) {
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(threads.size() - at, MAXIMUM_WAIT_OBJECTS));
        if (WaitForMultipleObjects(n, threads.data() + at, TRUE, INFINITE) == WAIT_FAILED)
            for (DWORD k = 0; k < n; ++k) WaitForSingleObject(threads[at + k], INFINITE);
    }
    if (shared.failure) std::rethrow_exception(shared.failure);
}

// Network jobs on Windows keep a thread apiece: its sockets wait in
// select(), which gives no way to hand the thread to another job.
void RunSocketJobs(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job) {
    RunInParallel(count, maxAtOnce, job);
}

struct Thread::Impl {
    std::function<void()> job;
    std::atomic<bool> done{false};
    ScopedHandle handle;
};

namespace {
DWORD WINAPI RunThread(void* param) {
    Thread::Impl* impl = static_cast<Thread::Impl*>(param);
    impl->job();
    impl->done = true;
    return 0;
}
}  // namespace

Thread::Thread(std::function<void()> job) : impl_(std::make_unique<Impl>()) {
    impl_->job = std::move(job);
    HANDLE t = CreateThread(nullptr, 0, RunThread, impl_.get(), 0, nullptr);
    if (t == nullptr) {
        RunThread(impl_.get());  // no thread to be had: run it here
        return;
    }
    impl_->handle.Reset(t);
}

Thread::~Thread() {
    if (impl_->handle) WaitForSingleObject(impl_->handle.Get(), INFINITE);
}

bool Thread::Done() const { return impl_->done; }

void PauseMs(unsigned ms) { Sleep(ms); }

std::string StateFolder() {
    // The user's own temporary folder.
    char temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n > MAX_PATH) return {};
    const std::string folder = std::string(temp) + "morvane-cli";
    CreateDirectoryA(folder.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? folder
                                                                                                 : std::string();
}

std::string DeviceInstance(const std::string&) { return {}; }

bool SecureRandomBytes(unsigned char* out, std::size_t count) {
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? Utf8(name) : std::string();
}

std::string UserName() {
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetUserNameW(name, &size) ? Utf8(name) : std::string();
}

}  // namespace morvane::cli
