// The journal's file, as the system keeps it: created for this user alone
// (0600), opened for appending, locked while a number is claimed or a record
// written, each record written in one write and synced before the call
// returns. A write that fails is cut off again, so that the file never
// keeps half a record the command wrote.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace morvane::cli {

class JournalFile {
public:
    // Nothing, with the reason, when the file cannot be opened or created.
    static std::unique_ptr<JournalFile> Open(const std::string& path, std::string* error);
    virtual ~JournalFile() = default;

    // Takes the file's exclusive lock, shared by every station on the file
    // wherever it runs, if it is free: false with *held when another
    // process has it, else with the reason in *error.
    virtual bool TryLock(bool* held, std::string* error) = 0;
    virtual void Unlock() = 0;
    // Who holds the lock now, as "NAME (pid N)"; empty where the system
    // cannot tell.
    virtual std::string Holder() = 0;

    virtual std::uint64_t Size() = 0;
    // Everything from `offset` to the end.
    virtual bool ReadFrom(std::uint64_t offset, std::string* bytes, std::string* error) = 0;
    // At the end, in one write, then synced; on failure the file is cut back
    // to its size before.
    virtual bool Append(const std::string& bytes, std::string* error) = 0;
};

}  // namespace morvane::cli
