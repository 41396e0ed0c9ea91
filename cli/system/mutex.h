// A lock for the command's portable code, taken with std::lock_guard. The
// Windows build's compiler (win32 threads, for a program with no runtime
// DLLs) has no std::mutex, so each platform brings its own.
#pragma once
#include <memory>

namespace morvane::cli {

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    bool try_lock();
    void unlock();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace morvane::cli
