// The journal's file on Windows: appending writes, LockFileEx, and
// FlushFileBuffers. A new one is created for its owner alone.
#include <windows.h>

#include <sddl.h>

#include <cstdint>
#include <vector>

#include "cli/journal/journal_file.h"
#include "cli/system/platform.h"
#include "cli/windows/system_error.h"
#include "cli/windows/utf16.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

// The lock is taken on one byte far past the end: a lock on the records
// themselves would keep every reader out while it is held.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED LockPlace() {
    OVERLAPPED place{};
    place.Offset = MAXDWORD;
    place.OffsetHigh = kLockOffsetHigh;
    return place;
}

class WindowsJournalFile : public JournalFile {
public:
    WindowsJournalFile(HANDLE h, std::string path) : file_(h), h_(h), path_(std::move(path)) {}

    bool TryLock(bool* held, std::string* error) override {
        *held = false;
        OVERLAPPED place = LockPlace();
        if (LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) return true;
        const DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            *held = true;
        } else {
            *error = "cannot lock " + path_ + ": " + SystemMessage(code);
        }
        return false;
    }

    // Windows does not say which process holds a byte-range lock.
    std::string Holder() override { return {}; }

    void Unlock() override {
        OVERLAPPED place = LockPlace();
        UnlockFileEx(h_, 0, 1, 0, &place);
    }

    std::uint64_t Size() override {
        LARGE_INTEGER size{};
        return GetFileSizeEx(h_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }

    bool ReadFrom(std::uint64_t offset, std::string* bytes, std::string* error) override {
        bytes->clear();
        char buffer[1 << 16];
        for (std::uint64_t at = offset;;) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD got = 0;
            if (!ReadFile(h_, buffer, sizeof buffer, &got, &where)) {
                if (GetLastError() == ERROR_HANDLE_EOF) return true;
                *error = "cannot read " + path_ + ": " + SystemMessage(GetLastError());
                return false;
            }
            if (got == 0) return true;
            bytes->append(buffer, got);
            at += got;
        }
    }

    bool Append(const std::string& bytes, std::string* error) override {
        const std::uint64_t before = Size();
        LARGE_INTEGER end{};
        SetFilePointerEx(h_, end, nullptr, FILE_END);
        DWORD written = 0;
        if (WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(h_))
            return true;
        const DWORD code = GetLastError();
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(before);
        if (SetFilePointerEx(h_, back, nullptr, FILE_BEGIN)) SetEndOfFile(h_);
        *error = "cannot write to " + path_ + ": " + SystemMessage(code);
        return false;
    }

private:
    ScopedHandle file_;
    const HANDLE h_;
    std::string path_;
};

struct LocalMemory {
    void operator()(void* p) const { LocalFree(p); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalMemory>;

// Full control for the user running the command and for nobody else, kept
// from the folder's inheritable entries ("P"): the journal holds pairing
// passwords, and a shared folder is its usual place. As 0600 on POSIX.
SecurityDescriptor OwnerOnly(DWORD* code) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        *code = GetLastError();
        return nullptr;
    }
    const ScopedHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<std::uintptr_t> user(size / sizeof(std::uintptr_t) + 1);  // aligned for TOKEN_USER
    LPWSTR sid = nullptr;
    if (!GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        *code = GetLastError();
        return nullptr;
    }
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        *code = GetLastError();
        return nullptr;
    }
    return SecurityDescriptor(descriptor);
}

}  // namespace

std::unique_ptr<JournalFile> JournalFile::Open(const std::string& path, std::string* error) {
    DWORD code = 0;
    const SecurityDescriptor descriptor = OwnerOnly(&code);
    if (!descriptor) {
        *error = "cannot open the journal " + path +
                 ": its permissions for the owner alone cannot be made: " + SystemMessage(code);
        return nullptr;
    }
    // Only a new file takes them; an existing journal keeps its own.
    SECURITY_ATTRIBUTES ownerOnly{sizeof ownerOnly, descriptor.get(), FALSE};
    HANDLE h = CreateFileW(Utf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &ownerOnly, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = "cannot open the journal " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    return std::make_unique<WindowsJournalFile>(h, path);
}

}  // namespace morvane::cli
