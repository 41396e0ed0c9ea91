#include "cli/station.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/console.h"
#include "cli/job_record.h"
#include "cli/line.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/port_resolve.h"

namespace morvane::cli {

namespace {

// How often the ports are listed again: often enough that a printer is
// taken within a moment of its port appearing; with device events, those
// wake the station, and the listing on time only catches what they miss.
constexpr unsigned kRelistMs = 250;
constexpr unsigned kRelistWithEventsMs = 1000;
constexpr unsigned kFinishPollMs = 20;

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

class Station {
public:
    Station(const StationOptions& options, Journal& journal) : o_(options), journal_(journal) {
        for (const Selector& s : o_.selectors) listing_ = listing_ || s.kind != Selector::Kind::Glob;
    }

    // The ports there are now that the station takes.
    std::vector<std::string> Present() {
        if (!o_.selectors.empty()) return MatchNow(o_.selectors, listing_ ? ListPorts() : std::vector<PortInfo>{});
        std::vector<std::string> names;
        for (const PortInfo& p : ListPorts())
            if (ProbedByDefault(p.kind)) names.push_back(p.name);
        return names;
    }

    void Tick() {
        const std::vector<std::string> present = Present();
        for (const std::string& name : present) {
            if (taken_.count(name) != 0) continue;
            taken_[name] = std::make_unique<Thread>([this, name] { Job(name); });
        }
        // Gone, and its job over: it may come again.
        for (auto it = taken_.begin(); it != taken_.end();) {
            const bool gone = std::find(present.begin(), present.end(), it->first) == present.end();
            it = gone && it->second->Done() ? taken_.erase(it) : std::next(it);
        }
    }

    void FinishJobs() {
        while (std::any_of(taken_.begin(), taken_.end(), [](const auto& t) { return !t.second->Done(); }))
            PauseMs(kFinishPollMs);
        taken_.clear();
    }

    bool Failed() const { return failed_; }

private:
    void Job(const std::string& name) {
        if (failed_) return;
        const std::optional<PortName> port = ParsePortName(name);
        if (!port) return;
        long long n = 0;
        std::string error;
        if (!journal_.Claim(o_.start, name, &n, &error)) return Fail("cannot claim a number: " + error);

        JobFacts facts;
        facts.n = n;
        facts.command = "watch";
        facts.port = name;
        facts.identity = FindListedPort(name, ListPorts());
        facts.profile = Absolute(o_.profile);
        RunOptions run = o_.run;
        std::vector<Step> steps;
        bool ready = true;
        for (const Request& r : o_.requests) {
            Step step;
            if (!PrepareStep(r, static_cast<std::size_t>(n), run.codePage, &step, &error)) {
                Record bad;
                bad.port = name;
                bad.key = std::string(r.setting->key);
                bad.value = r.value;
                bad.result = Result::Error;
                bad.detail = "not sent: " + error + " (number " + std::to_string(n) + ")";
                facts.records.push_back(bad);
                ready = false;
                continue;
            }
            steps.push_back(step);
        }
        if (ready && o_.probe) {
            const Record found = ProbePrinter(*port, run, Lines(), SystemClock());
            if (found.result == Result::Ok && found.lineBaud != 0) {
                run.baud = found.lineBaud;
            } else if (found.result != Result::Ok) {
                Record r = found;
                r.key = "probe";
                facts.records.push_back(r);
                ready = false;
            }
        }
        if (ready) {
            for (const char* key : {"bt-address", "bt-name"}) {
                Request read;
                Step step;
                PlanGet(key, "watch", &read, &error);
                PrepareStep(read, static_cast<std::size_t>(n), run.codePage, &step, &error);
                steps.push_back(step);
            }
            RecordCollector collector(steps.size());
            RunPrinter(*port, steps, run, Lines(), SystemClock(), collector);
            facts.records = collector.records;
        }
        if (!journal_.Write(JobRecord(facts), &error))
            return Fail("job " + std::to_string(n) + " on " + name + ": its record could not be written: " + error);
        Announce(facts);
    }

    void Announce(const JobFacts& job) {
        const std::string address = ReadBack(job.records, "bt-address");
        const Result result = JobResult(job.records);
        if (o_.json) {
            nlohmann::json j = {{"v", 1},
                                {"n", job.n},
                                {"port", job.port},
                                {"bt_address", address},
                                {"bt_name", ReadBack(job.records, "bt-name")},
                                {"result", ResultName(result)}};
            TheConsole().Out(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
            return;
        }
        std::string line = std::to_string(job.n) + "  " + EscapeControls(job.port) + "  " +
                           (address.empty() ? "-" : EscapeControls(address)) + "  " + ResultName(result);
        for (const Record& r : job.records)
            if (r.result != Result::Ok) {
                line += "  (" + r.key + ": " + EscapeControls(r.detail) + ")";
                break;
            }
        TheConsole().Out(line);
    }

    void Fail(const std::string& why) {
        failed_ = true;
        TheConsole().Err("morvane-cli: " + why + "; the station stops");
    }

    static LineOpener Lines() {
        return [](const PortName& p, int baud, std::string* why) { return OpenLine(p, baud, why); };
    }

    const StationOptions& o_;
    Journal& journal_;
    bool listing_ = false;
    std::atomic<bool> failed_{false};
    std::map<std::string, std::unique_ptr<Thread>> taken_;
};

}  // namespace

int RunStation(const StationOptions& options, Journal& journal, StopControl& stop, PortEvents& events) {
    // Device events say nothing of a glob's folder: that is listed on time.
    const bool globs = std::any_of(options.selectors.begin(), options.selectors.end(),
                                   [](const Selector& s) { return s.kind == Selector::Kind::Glob; });
    const unsigned wait = events.Live() && !globs ? kRelistWithEventsMs : kRelistMs;
    Station station(options, journal);
    stop.BeginWatch();
    while (stop.SignalStatus() == 0 && !station.Failed()) {
        station.Tick();
        events.Wait(wait);
    }
    station.FinishJobs();
    stop.EndWatch();
    if (station.Failed()) return kExitOutputFailed;
    return stop.SignalStatus() != 0 ? stop.SignalStatus() : kExitDone;
}

}  // namespace morvane::cli
