// The command's platform pieces on Windows.
#include "cli/platform.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>
#include <cstdio>
#include <memory>

#include "libs/common/scoped_handle.h"

namespace morvane::cli {

namespace {

std::string ToUtf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

struct Job {
    const std::function<void(std::size_t)>* job;
    std::size_t index;
};

DWORD WINAPI RunJob(void* param) {
    const Job* j = static_cast<const Job*>(param);
    (*j->job)(j->index);
    return 0;
}

}  // namespace

// The arguments as typed, whatever the ANSI code page: argv holds them only
// in that code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
    // The progress line clears itself with an escape sequence.
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(err, &mode)) SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void RunInParallel(std::size_t count, const std::function<void(std::size_t)>& job, const std::function<void()>& tick,
                   unsigned tickMs) {
    if (count == 1) {
        job(0);
        return;
    }
    std::vector<Job> jobs(count);
    std::vector<HANDLE> threads;
    std::vector<ScopedHandle> owners;  // closed once every wait below is over
    for (std::size_t i = 0; i < count; ++i) {
        jobs[i] = {&job, i};
        HANDLE t = CreateThread(nullptr, 0, RunJob, &jobs[i], 0, nullptr);
        if (t == nullptr) {
            job(i);  // no thread to be had: run it here
            continue;
        }
        threads.push_back(t);
        owners.emplace_back(t);
    }
    // WaitForMultipleObjects takes at most 64 handles at a time.
    for (std::size_t at = 0; at < threads.size();) {
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(threads.size() - at, MAXIMUM_WAIT_OBJECTS));
        const DWORD r = WaitForMultipleObjects(n, threads.data() + at, TRUE, tickMs);
        if (r == WAIT_TIMEOUT) {
            tick();
            continue;
        }
        if (r == WAIT_FAILED)  // never leave a job running on what we free
            for (DWORD k = 0; k < n; ++k) WaitForSingleObject(threads[at + k], INFINITE);
        at += n;
    }
}

}  // namespace morvane::cli
