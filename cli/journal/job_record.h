// A job as the journal keeps it: the printer's port and identity, the
// profile, every key with its result, what the printer said its address
// and name are, and the job's result as a whole.
#pragma once
#include <atomic>
#include <mutex>  // std::lock_guard
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/journal/journal.h"
#include "cli/system/mutex.h"
#include "cli/ports/port_info.h"
#include "cli/run/record.h"
#include "cli/run/runner.h"

namespace morvane::cli {

struct JobFacts {
    long long n = 0;      // 0: no station number
    std::string command;  // "watch", "set", "apply"
    std::string port;
    std::string slot;  // a station's: where the printer is plugged in
    std::optional<PortInfo> identity;
    std::string profile;          // its path, made absolute
    std::vector<Record> records;  // the keys sent, then the two reads
};

// "ok" when every key is; else the worst of error, no-answer, not-sent, refused.
Result JobResult(const std::vector<Record>& records);
nlohmann::ordered_json JobRecord(const JobFacts& job);
// What the reads at the end of a job found: bt-address, bt-name.
std::string ReadBack(const std::vector<Record>& records, const std::string& key);

// Keeps a job's records for its journal entry as they come, and passes
// them on.
class RecordCollector : public JobSink {
public:
    // One record still to be filled in a step (BlankRecords).
    explicit RecordCollector(std::vector<Record> keys, JobSink* next = nullptr);
    void Sending(std::size_t step) override;
    void Done(std::size_t step, const Record& record) override;
    // The records so far; a key without one is cut short by `why`.
    std::vector<Record> Records(const std::string& why) const;

private:
    mutable Mutex mu_;
    std::vector<Record> records_;
    std::vector<char> left_;  // the step's frame has left
    std::vector<char> done_;
    JobSink* next_;
};

// A job's one journal entry: written by the job as it ends or, when the
// command has to end at once, with what is known then; never both.
class JournaledJob {
public:
    JournaledJob(Journal& journal, JobFacts facts, const RecordCollector& records)
        : journal_(journal), facts_(std::move(facts)), records_(records) {}
    // False, with *written false, when the other one wrote it first.
    bool Write(const std::string& cutShortBy, bool* written, std::string* error);
    const JobFacts& Facts() const { return facts_; }

private:
    Journal& journal_;
    JobFacts facts_;
    const RecordCollector& records_;
    std::atomic<bool> taken_{false};
};

// The port's entry in ListPorts(), matched by name or by the device it
// leads to; nothing for a port the system does not list (a pseudo-terminal).
std::optional<PortInfo> FindListedPort(const std::string& port, const std::vector<PortInfo>& listed);

}  // namespace morvane::cli
