// The journal: JSON lines, one record per number a station claims and one
// per job, so that what was done to which printer, when and from which
// profile is never lost, and no station number is given twice.
//
//   {"v":1,"type":"claim","n":17,"time":"2026-12-09T10:15:02.123Z","host":"bench-2","user":"tech","port":"/dev/ttyUSB0"}
//   {"v":1,"type":"job","n":17,"time":...,"host":...,"user":...,"command":"watch","port":"/dev/ttyUSB0",
//    "identity":{"kind":"usb-serial","vendor_id":"0416",...},"profile":"/srv/shop.profile",
//    "settings":[{"key":"darkness","value":"4","result":"ok","ms":14},...],
//    "bt_address":"00:11:22:33:44:55","bt_name":"Shop 17","result":"ok"}
//
// A number is claimed, under the file's lock, by a record written and synced
// before the job's first frame: a crash loses a job, never a number. A line
// cut short by a crash or a power cut is skipped (and counted); the next
// record starts on a line of its own. Any other line that is not one of
// these records makes the file no journal of ours.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cli/journal/journal_file.h"
#include "cli/system/mutex.h"
#include "cli/ports/port_info.h"

namespace morvane::cli {

constexpr int kJournalVersion = 1;

struct JournalSetting {
    std::string key, value, result;
    long long ms = 0;
};

struct JournalEntry {
    std::string type;  // "claim" or "job"
    long long n = 0;   // 0: none
    std::string time, host, user, command, port, profile, btAddress, btName, result;
    std::string slot;       // a station's job: where the printer was plugged in
    std::string usbSerial;  // of the identity: what knows a printer without an address
    std::string kind;       // of the identity: "usb-printer", "usb-serial", ...
    std::vector<JournalSetting> settings;
    std::size_t offset = 0, length = 0;  // the line in the text read
    std::string_view settingsText;       // the settings' raw text, when not read
};

// How much of each record a scan keeps.
enum class JournalDetail {
    Top,      // numbers and types only: the quickest pass
    Summary,  // every field but the settings
    Full,
};

// What a pass over a journal's lines found.
struct JournalScan {
    std::size_t records = 0;
    std::size_t torn = 0;      // lines cut short, skipped
    long long highest = 0;     // the highest number claimed
    bool endsInLine = true;    // the text ends with a newline (or is empty)
    std::size_t consumed = 0;  // bytes up to the last complete line
};

// Reads complete lines of `text`; with `entries`, keeps every record to
// `detail`. False with the line's number (counted from firstLine) for a
// line that is not one of ours.
bool ScanJournal(std::string_view text, std::size_t firstLine, JournalScan* scan, std::vector<JournalEntry>* entries,
                 std::string* error, JournalDetail detail = JournalDetail::Full);
JournalEntry EntryOf(const nlohmann::json& record);

// Records are written with their fields in this order: the version, the
// type, the number and the time first, as a person reads them.
using JournalRecord = nlohmann::ordered_json;
// The records' common part: the version and type; then (StampRecord) the
// time (UTC, ms), the host and the user.
JournalRecord NewRecord(const std::string& type);
// Adds them, after what the record has so far.
void StampRecord(JournalRecord* record);
JournalRecord IdentityObject(const PortInfo& port);

// The longest wait for the journal's lock: a claim takes milliseconds, so
// a lock held longer is a stuck or paused program.
constexpr std::chrono::milliseconds kJournalLockBound{15000};

// How opening a journal waits for its lock.
struct JournalOpening {
    const std::atomic<bool>* stop = nullptr;  // set: stop waiting
    // Told once, when the journal is found locked: who holds it (or empty).
    std::function<void(const std::string& holder)> onWait;
};

enum class JournalOpened {
    Open,
    Refused,  // cannot be opened or created, or is not a journal of ours
    InUse,    // another program held its lock for kJournalLockBound
    Stopped,  // told to stop while waiting
};

class Journal {
public:
    // Opens or creates it and reads it through; refuses one that is not ours.
    static std::unique_ptr<Journal> Open(const std::string& path, std::string* error);
    static std::unique_ptr<Journal> Open(const std::string& path, const JournalOpening& opening, JournalOpened* opened,
                                         std::string* error);

    // The next number (one past the highest, at least `start`), claimed by
    // a record synced before this returns.
    bool Claim(long long start, const std::string& port, long long* n, std::string* error);
    // A record, in one write, synced.
    bool Write(const JournalRecord& record, std::string* error);
    // Lines cut short so far, the last one included.
    std::size_t TornLines() const { return scan_.torn + (scan_.endsInLine ? 0 : 1); }
    const std::string& Path() const { return path_; }

private:
    Journal(std::unique_ptr<JournalFile> file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}
    // Waits, bounded, for the file's lock.
    JournalOpened Lock(const JournalOpening& opening, std::string* error);
    bool CatchUp(std::string* error);  // what other stations wrote; with the lock held
    bool AppendLocked(const JournalRecord& record, std::string* error);

    std::unique_ptr<JournalFile> file_;
    std::string path_;
    Mutex mu_;  // the jobs of one station share the journal
    JournalScan scan_;
    std::uint64_t scanned_ = 0;
    std::size_t lines_ = 0;
};

}  // namespace morvane::cli
