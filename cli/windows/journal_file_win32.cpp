// The journal's file on Windows: appending writes, LockFileEx, and
// FlushFileBuffers. The file gets the folder's permissions.
#include <windows.h>

#include "cli/journal_file.h"
#include "cli/platform.h"
#include "cli/windows/system_error.h"
#include "cli/windows/utf16.h"
#include "libs/common/scoped_handle.h"

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

}  // namespace

std::unique_ptr<JournalFile> JournalFile::Open(const std::string& path, std::string* error) {
    HANDLE h = CreateFileW(Utf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = "cannot open the journal " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    return std::make_unique<WindowsJournalFile>(h, path);
}

}  // namespace morvane::cli
