#include "cli/job_record.h"

#include <filesystem>

#include "cli/journal.h"

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

std::optional<PortInfo> FindListedPort(const std::string& port, const std::vector<PortInfo>& listed) {
    for (const PortInfo& p : listed)
        if (p.name == port || p.identity.byId == port || (!p.path.empty() && SameDevice(p.path, port))) return p;
    return std::nullopt;
}

}  // namespace morvane::cli
