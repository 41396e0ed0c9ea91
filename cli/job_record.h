// A job as the journal keeps it: the printer's port and identity, the
// profile, every key with its result, what the printer said its address
// and name are, and the job's result as a whole.
#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/port_info.h"
#include "cli/record.h"
#include "cli/runner.h"

namespace morvane::cli {

struct JobFacts {
    long long n = 0;      // 0: no station number
    std::string command;  // "watch", "set", "apply"
    std::string port;
    std::optional<PortInfo> identity;
    std::string profile;          // its path, made absolute
    std::vector<Record> records;  // the keys sent, then the two reads
};

// "ok" when every key is; else the worst of error, no-answer, not-sent, refused.
Result JobResult(const std::vector<Record>& records);
nlohmann::ordered_json JobRecord(const JobFacts& job);
// What the reads at the end of a job found: bt-address, bt-name.
std::string ReadBack(const std::vector<Record>& records, const std::string& key);

// Keeps a job's records for its journal entry, and passes them on.
class RecordCollector : public JobSink {
public:
    RecordCollector(std::size_t keys, JobSink* next = nullptr) : records(keys), next_(next) {}
    void Sending(std::size_t step) override {
        if (next_ != nullptr) next_->Sending(step);
    }
    void Done(std::size_t step, const Record& record) override {
        if (step < records.size()) records[step] = record;
        if (next_ != nullptr) next_->Done(step, record);
    }
    std::vector<Record> records;

private:
    JobSink* next_;
};

// The port's entry in ListPorts(), matched by name or by the device it
// leads to; nothing for a port the system does not list (a pseudo-terminal).
std::optional<PortInfo> FindListedPort(const std::string& port, const std::vector<PortInfo>& listed);

}  // namespace morvane::cli
