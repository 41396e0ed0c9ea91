// What the command needs of the platform besides the line: its arguments
// as UTF-8, the console, the stop signals, and a way to run jobs side by side.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvane::cli {

// The program's arguments as UTF-8 texts, argv[0] first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Makes standard output and error take UTF-8 (a no-op where they always do).
void PrepareConsole();
// Puts the console back as PrepareConsole() found it.
void RestoreConsole();

// Exit statuses of a command ended by a signal, as a shell reports them.
constexpr int kExitInterrupted = 130;  // SIGINT, Ctrl-C
constexpr int kExitTerminated = 143;   // SIGTERM; Ctrl-Break or a closing console on Windows

// From now on, calls onStop(kExitInterrupted or kExitTerminated, atOnce)
// once per stop signal, on a thread of its own (never in a signal handler);
// atOnce when the system ends the process as soon as onStop returns (a
// console closing, a logoff). A broken pipe raises no signal: it shows as a
// failed write. Call it before any other thread starts.
void WatchStopSignals(std::function<void(int status, bool atOnce)> onStop);
// Ends the process at once with `status`: no destructors, no atexit.
[[noreturn]] void EndNow(int status);

// Runs job(0) .. job(count - 1), at most maxAtOnce at a time, each on a
// thread of its own, and returns when all are done.
void RunInParallel(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job);
// The same for jobs that spend their time waiting on network sockets (and
// on nothing else that blocks for long): many share a thread where the
// platform allows it, so that hundreds at once cost little more than one.
void RunSocketJobs(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job);

// A job on a thread of its own, joined when the object goes.
class Thread {
public:
    explicit Thread(std::function<void()> job);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    bool Done() const;
    struct Impl;  // the platform's

private:
    std::unique_ptr<Impl> impl_;
};

void PauseMs(unsigned ms);

// A folder of this user's alone for what the command keeps from one run to
// the next (answers a line still owes); empty when there is none to be had.
std::string StateFolder();

// What tells this instance of a device node from an earlier one under the
// same name (a new pseudo-terminal, a printer plugged in again); empty
// where the system cannot tell.
std::string DeviceInstance(const std::string& path);

// `count` bytes from the system's cryptographic generator; false when it
// gives none.
bool SecureRandomBytes(unsigned char* out, std::size_t count);

// For the journal: the machine's name and the user's.
std::string HostName();
std::string UserName();

}  // namespace morvane::cli
