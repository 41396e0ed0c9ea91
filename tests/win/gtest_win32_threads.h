// Forced into GoogleTest's own sources when MinGW uses the win32 thread model
// (no std::mutex): GoogleTest is then built single-threaded, which leaves its
// Windows death tests without the handle owner they share with the threading
// code. This supplies it.
#pragma once
#include <windows.h>

namespace testing::internal {

class AutoHandle {
public:
    typedef void* Handle;
    AutoHandle() : handle_(INVALID_HANDLE_VALUE) {}
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle() { Reset(); }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;
    Handle Get() const { return handle_; }
    void Reset() { Reset(INVALID_HANDLE_VALUE); }
    void Reset(Handle handle) {
        if (handle_ != handle) {
            if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
            handle_ = handle;
        }
    }

private:
    Handle handle_;
};

}  // namespace testing::internal
