#include "cli/station.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>

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
constexpr std::string_view kMasked = "\"********\"";

// The text of a pairing password, where a message quotes it, is masked: the
// station's line is read over shoulders and kept in shift logs.
std::string WithoutSecret(const std::string& key, const std::string& value, std::string message) {
    if (key != "bt-password" || value.empty()) return message;
    const std::string quoted = "\"" + value + "\"";
    for (std::size_t at = message.find(quoted); at != std::string::npos; at = message.find(quoted, at + kMasked.size()))
        message.replace(at, quoted.size(), kMasked);
    return message;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

class Station {
public:
    Station(const StationOptions& options, Journal& journal, StopControl& stop)
        : o_(options), journal_(journal), stop_(stop) {
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

    void Tick(const std::atomic<bool>& stop) {
        const std::vector<std::string> present = Present();
        for (const std::string& name : present) {
            const auto found = taken_.find(name);
            // Back after it went, while its last job was still finishing:
            // the next tick that finds that job over takes it again.
            if (found != taken_.end() && found->second.gone && found->second.job->Done()) taken_.erase(found);
            if (taken_.count(name) != 0 || stop) continue;
            taken_[name].job = std::make_unique<Thread>([this, name, &stop] { Job(name, stop); });
        }
        // Once seen gone, it is a new printer when it comes again.
        for (auto& [name, slot] : taken_)
            if (std::find(present.begin(), present.end(), name) == present.end()) slot.gone = true;
        for (auto it = taken_.begin(); it != taken_.end();)
            it = it->second.gone && it->second.job->Done() &&
                         std::find(present.begin(), present.end(), it->first) == present.end()
                     ? taken_.erase(it)
                     : std::next(it);
    }

    void FinishJobs() {
        while (std::any_of(taken_.begin(), taken_.end(), [](const auto& t) { return !t.second.job->Done(); }))
            PauseMs(kFinishPollMs);
        taken_.clear();
    }

    bool Failed() const { return failed_; }

private:
    void Job(const std::string& name, const std::atomic<bool>& stop) {
        // Nothing claimed, nothing sent, once results can no longer be written.
        if (failed_ || stop || TheConsole().Failed()) return;
        const std::optional<PortName> port = ParsePortName(name);
        if (!port) return;
        long long n = 0;
        std::string error;
        if (!journal_.Claim(o_.start, name, &n, &error))
            return Fail("cannot claim a number for the printer on " + name + ": " + error);

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
                bad.detail = "not sent: " + WithoutSecret(bad.key, step.shownValue, error) + " (number " +
                             std::to_string(n) + ")";
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
            RecordCollector collector(BlankRecords(name, steps));
            JournaledJob job(journal_, facts, collector);
            // Ending at once (a second Ctrl-C) still journals what the job did.
            const int finisher = stop_.AddFinisher([&] {
                bool written = false;
                std::string why;
                if (job.Write("the station was stopped at once", &written, &why)) Announce(job.Facts());
            });
            RunPrinter(*port, steps, run, Lines(), SystemClock(), collector);
            bool written = false;
            job.Write("the job stopped", &written, &error);
            stop_.RemoveFinisher(finisher);
            Finished(job.Facts(), written, error);
            return;
        }
        bool written = false;
        if (journal_.Write(JobRecord(facts), &error)) written = true;
        Finished(facts, written, error);
    }

    // The job's line, and the station's stop when its record is not on disk.
    void Finished(const JobFacts& job, bool written, const std::string& error) {
        if (!written && error.empty()) return;  // the end at once wrote it
        Announce(job);
        if (!written)
            Fail("job " + std::to_string(job.n) + " on " + job.port + ": its record could not be written: " + error);
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
                line += "  (" + r.key + ": " + EscapeControls(WithoutSecret(r.key, r.value, r.detail)) + ")";
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
    StopControl& stop_;
    bool listing_ = false;
    std::atomic<bool> failed_{false};
    struct Slot {
        std::unique_ptr<Thread> job;
        bool gone = false;  // not seen since its job began
    };
    std::map<std::string, Slot> taken_;
};

}  // namespace

int RunStation(const StationOptions& options, Journal& journal, StopControl& stop, PortEvents& events) {
    // Device events say nothing of a glob's folder: that is listed on time.
    const bool globs = std::any_of(options.selectors.begin(), options.selectors.end(),
                                   [](const Selector& s) { return s.kind == Selector::Kind::Glob; });
    const unsigned wait = events.Live() && !globs ? kRelistWithEventsMs : kRelistMs;
    Station station(options, journal, stop);
    stop.BeginWatch();
    while (stop.SignalStatus() == 0 && !station.Failed() && !TheConsole().Failed()) {
        station.Tick(stop.Flag());
        events.Wait(wait);
    }
    station.FinishJobs();
    stop.EndWatch();
    if (station.Failed() || TheConsole().Failed()) return kExitOutputFailed;
    return stop.SignalStatus() != 0 ? stop.SignalStatus() : kExitDone;
}

}  // namespace morvane::cli
