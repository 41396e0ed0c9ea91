// One owner for every Win32 handle the program and its libraries open: the
// handle is closed when the owner goes, whatever path leaves the scope.
// Closing keeps the thread's last-error value, so a failure reported after
// the owner is gone still carries the system's own error number.
#pragma once
#include <windows.h>

namespace morvane {

// Traits: the handle type, the value that means "none", how to tell a real
// handle, how to close one.
struct KernelHandleTraits {
    using Type = HANDLE;
    static constexpr Type None() { return nullptr; }
    // CreateFile says "none" with INVALID_HANDLE_VALUE, CreateEvent with null.
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

template <typename Traits>
class Scoped {
public:
    using Type = typename Traits::Type;

    Scoped() = default;
    explicit Scoped(Type h) : h_(h) {}
    ~Scoped() { Reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : h_(other.Release()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const { return h_; }
    bool IsValid() const { return Traits::IsValid(h_); }
    explicit operator bool() const { return IsValid(); }

    // Hands the handle over; this owner then holds none.
    Type Release() {
        Type h = h_;
        h_ = Traits::None();
        return h;
    }

    void Reset(Type h = Traits::None()) {
        if (Traits::IsValid(h_)) {
            const DWORD error = GetLastError();
            Traits::Close(h_);
            SetLastError(error);
        }
        h_ = h;
    }

private:
    Type h_ = Traits::None();
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static constexpr Type None() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedRegistryKey = Scoped<RegistryKeyTraits>;

}  // namespace morvane
