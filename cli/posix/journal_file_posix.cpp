// The journal's file on POSIX: O_APPEND, flock(2), fsync(2).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/journal/journal_file.h"
#include "cli/system/platform.h"
#include "cli/posix/lock_holders.h"

namespace morvane::cli {

namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

class PosixJournalFile : public JournalFile {
public:
    PosixJournalFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixJournalFile() override { close(fd_); }

    bool TryLock(bool* held, std::string* error) override {
        *held = false;
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EWOULDBLOCK || errno == EINTR) {
            *held = true;
        } else {
            *error = Errno("cannot lock " + path_);
        }
        return false;
    }

    void Unlock() override { flock(fd_, LOCK_UN); }

    std::string Holder() override {
        struct stat st {};
        return fstat(fd_, &st) == 0 ? FlockHolder(st.st_dev, st.st_ino) : std::string();
    }

    std::uint64_t Size() override {
        struct stat st {};
        return fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }

    bool ReadFrom(std::uint64_t offset, std::string* bytes, std::string* error) override {
        bytes->clear();
        char buffer[1 << 16];
        for (off_t at = static_cast<off_t>(offset);;) {
            const ssize_t n = pread(fd_, buffer, sizeof buffer, at);
            if (n == 0) return true;
            if (n < 0) {
                if (errno == EINTR) continue;
                *error = Errno("cannot read " + path_);
                return false;
            }
            bytes->append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }

    bool Append(const std::string& bytes, std::string* error) override {
        const std::uint64_t before = Size();
        ssize_t n;
        do {
            n = write(fd_, bytes.data(), bytes.size());
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(bytes.size()) && fsync(fd_) == 0) return true;
        const int code = n < 0 || n == static_cast<ssize_t>(bytes.size()) ? errno : ENOSPC;
        // Half a record would stand between the records to come.
        if (ftruncate(fd_, static_cast<off_t>(before)) == 0) fsync(fd_);
        errno = code;
        *error = Errno("cannot write to " + path_);
        return false;
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

std::unique_ptr<JournalFile> JournalFile::Open(const std::string& path, std::string* error) {
    // A file too large for a limit on file sizes fails its write (EFBIG)
    // instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // It holds pairing passwords: for this user alone.
    struct stat before {};
    const bool fresh = stat(path.c_str(), &before) != 0 && errno == ENOENT;
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = Errno("cannot open the journal " + path);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *error = "the journal " + path + " is not a regular file";
        return nullptr;
    }
    // A new file's name is on disk before its first claim is: a power cut
    // cannot take the file, and its numbers, away again.
    if (fresh) {
        const std::string folder =
            path.find('/') == std::string::npos ? "." : path.substr(0, path.find_last_of('/') + 1);
        const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
    }
    return std::make_unique<PosixJournalFile>(fd, path);
}

}  // namespace morvane::cli
