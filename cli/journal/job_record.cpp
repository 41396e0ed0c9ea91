#include "cli/journal/job_record.h"

#include <filesystem>

#include "cli/journal/journal.h"

namespace morvane::cli {

namespace {

int Severity(Result r) {
    switch (r) {
        case Result::Ok: return 0;
        case Result::Refused: return 1;
        case Result::NotSent: return 2;
        case Result::NoAnswer: return 3;
        case Result::Error: return 4;
    }
    return 4;
}

bool SameDevice(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(a, ec1);
    const auto cb = std::filesystem::weakly_canonical(b, ec2);
    return !ec1 && !ec2 && ca == cb;
}

}  // namespace

Result JobResult(const std::vector<Record>& records) {
    Result worst = Result::Ok;
    for (const Record& r : records)
        if (Severity(r.result) > Severity(worst)) worst = r.result;
    return worst;
}

std::string ReadBack(const std::vector<Record>& records, const std::string& key) {
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (it->read && it->key == key && it->result == Result::Ok) return it->value;
    return {};
}

nlohmann::ordered_json JobRecord(const JobFacts& job) {
    JournalRecord record = NewRecord("job");
    if (job.n != 0) record["n"] = job.n;
    StampRecord(&record);
    record["command"] = job.command;
    record["port"] = job.port;
    if (!job.slot.empty()) record["slot"] = job.slot;
    record["identity"] = job.identity ? IdentityObject(*job.identity) : JournalRecord::object();
    if (!job.profile.empty()) record["profile"] = job.profile;
    JournalRecord settings = JournalRecord::array();
    for (const Record& r : job.records) {
        if (r.read) continue;
        JournalRecord s = {{"key", r.key}, {"value", r.value}, {"result", ResultName(r.result)}, {"ms", r.ms}};
        if (!r.detail.empty() && r.result != Result::Ok) s["detail"] = r.detail;
        settings.push_back(s);
    }
    record["settings"] = settings;
    record["bt_address"] = ReadBack(job.records, "bt-address");
    record["bt_name"] = ReadBack(job.records, "bt-name");
    record["result"] = ResultName(JobResult(job.records));
    return record;
}

RecordCollector::RecordCollector(std::vector<Record> keys, JobSink* next)
    : records_(std::move(keys)), left_(records_.size(), 0), done_(records_.size(), 0), next_(next) {}

void RecordCollector::Sending(std::size_t step) {
    {
        std::lock_guard<Mutex> lock(mu_);
        if (step < left_.size()) left_[step] = 1;
    }
    if (next_ != nullptr) next_->Sending(step);
}

void RecordCollector::Done(std::size_t step, const Record& record) {
    {
        std::lock_guard<Mutex> lock(mu_);
        if (step < records_.size()) {
            records_[step] = record;
            done_[step] = 1;
        }
    }
    if (next_ != nullptr) next_->Done(step, record);
}

std::vector<Record> RecordCollector::Records(const std::string& why) const {
    std::lock_guard<Mutex> lock(mu_);
    std::vector<Record> records = records_;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (done_[i] == 0) records[i] = CutShort(records_[i], left_[i] != 0, why);
    return records;
}

bool JournaledJob::Write(const std::string& cutShortBy, bool* written, std::string* error) {
    *written = false;
    if (taken_.exchange(true)) return false;
    facts_.records = records_.Records(cutShortBy);
    *written = journal_.Write(JobRecord(facts_), error);
    return *written;
}

std::optional<PortInfo> FindListedPort(const std::string& port, const std::vector<PortInfo>& listed) {
    for (const PortInfo& p : listed)
        if (p.name == port || p.identity.byId == port || (!p.path.empty() && SameDevice(p.path, port))) return p;
    return std::nullopt;
}

}  // namespace morvane::cli
