#include "cli/station/station.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>

#include "cli/run/borrowed_line.h"
#include "cli/text/console.h"
#include "cli/journal/job_record.h"
#include "cli/run/line.h"
#include "cli/text/output.h"
#include "cli/system/platform.h"
#include "cli/ports/port_resolve.h"

namespace morvane::cli {

namespace {

// How often the ports are listed again: often enough that a printer is
// taken within a moment of its port appearing; with device events, those
// wake the station, and the listing on time only catches what they miss.
constexpr unsigned kRelistMs = 250;
constexpr unsigned kRelistWithEventsMs = 1000;
constexpr unsigned kFinishPollMs = 20;
constexpr unsigned kBusyRetryMs = 250;
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

// The board's progress for a job: key k of m as each frame leaves.
class BoardSink : public JobSink {
public:
    BoardSink(StationBoard* board, std::string slot, std::string port, long long n, std::size_t keys)
        : board_(board), slot_(std::move(slot)), port_(std::move(port)), n_(n), keys_(keys) {}
    void Sending(std::size_t step) override {
        if (board_ != nullptr) board_->Working(slot_, port_, n_, step + 1, keys_);
    }
    void Done(std::size_t, const Record&) override {}

private:
    StationBoard* board_;
    std::string slot_, port_;
    long long n_;
    std::size_t keys_;
};

class Station {
public:
    Station(const StationOptions& options, Journal& journal, StopControl& stop)
        : o_(options), journal_(journal), stop_(stop) {
        for (const Selector& s : o_.selectors)
            listing_ = listing_ || (s.kind != Selector::Kind::Glob && s.kind != Selector::Kind::Named);
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
            if (found != taken_.end() && found->second->gone && found->second->job->Done()) taken_.erase(found);
            if (taken_.count(name) != 0 || stop) continue;
            auto slot = std::make_shared<Slot>();
            slot->job = std::make_unique<Thread>([this, name, slot, &stop] { Job(name, *slot, stop); });
            taken_[name] = slot;
        }
        // Once seen gone, it is a new printer when it comes again.
        for (auto& [name, slot] : taken_)
            if (std::find(present.begin(), present.end(), name) == present.end() && !slot->gone.exchange(true) &&
                o_.board != nullptr) {
                std::lock_guard<Mutex> lock(slot->mu);
                if (!slot->name.empty()) o_.board->Gone(slot->name);
            }
        for (auto it = taken_.begin(); it != taken_.end();)
            it = it->second->gone && it->second->job->Done() &&
                         std::find(present.begin(), present.end(), it->first) == present.end()
                     ? taken_.erase(it)
                     : std::next(it);
    }

    void FinishJobs() {
        while (std::any_of(taken_.begin(), taken_.end(), [](const auto& t) { return !t.second->job->Done(); }))
            PauseMs(kFinishPollMs);
        taken_.clear();
    }

    bool Failed() const { return failed_; }

private:
    // A port the station has seen: its job, and whether it went since.
    struct Slot {
        std::unique_ptr<Thread> job;
        std::atomic<bool> gone{false};  // not seen since its job began
        Mutex mu;
        std::string name;  // its slot, once known
    };

    // The port, taken for the station alone: a port another program holds
    // is tried again every 250 ms, up to the busy wait, and its holder named
    // once. Nothing when it cannot be had; then the station says why.
    std::unique_ptr<Line> Take(const PortName& port, const std::string& slot, const Slot& seen,
                               const std::atomic<bool>& stop) {
        const auto giveUp = SteadyClock::now() + o_.busyWait;
        bool told = false;
        for (;;) {
            PortBusy busy;
            std::string error;
            std::unique_ptr<Line> line = OpenLine(port, o_.run.baud, &error, &busy);
            if (line) return line;
            const std::string holder = busy.holder.empty() ? "another program" : busy.holder;
            if (busy.busy && !told) {
                told = true;
                TheConsole().Err("morvane-cli: " + port.text + (slot != port.text ? " (" + slot + ")" : "") +
                                 " is in use by " + holder + "; waiting for it up to " +
                                 std::to_string(o_.busyWait.count() / 1000) + " s");
                if (o_.board != nullptr) o_.board->Busy(slot, port.text, holder, false);
            }
            const bool waitOn = busy.busy && !stop && !seen.gone && SteadyClock::now() < giveUp;
            if (waitOn) {
                PauseMs(kBusyRetryMs);
                continue;
            }
            if (stop || seen.gone) return nullptr;  // nothing to say: it went, or the station did
            NotConfigured(port.text, slot, busy.busy ? "in use by " + holder : error);
            if (o_.board != nullptr) o_.board->Busy(slot, port.text, busy.busy ? holder : error, true);
            return nullptr;
        }
    }

    void Job(const std::string& name, Slot& seen, const std::atomic<bool>& stop) {
        // Nothing claimed, nothing sent, once results can no longer be written.
        if (failed_ || stop || TheConsole().Failed()) return;
        const std::optional<PortName> port = ParsePortName(name);
        if (!port) return;
        const std::optional<PortInfo> identity = FindListedPort(name, ListPorts());
        const std::string slot = o_.slots.SlotOf(name, identity);
        {
            std::lock_guard<Mutex> lock(seen.mu);
            seen.name = slot;
        }
        if (o_.board != nullptr) o_.board->Waiting(slot, name);
        // The port first, the number after: a busy port costs no number.
        std::unique_ptr<Line> held = Take(*port, slot, seen, stop);
        if (!held || failed_ || stop || TheConsole().Failed()) return;
        long long n = 0;
        std::string error;
        if (!journal_.Claim(o_.start, name, &n, &error))
            return Fail("cannot claim a number for the printer on " + name + ": " + error);

        JobFacts facts;
        facts.n = n;
        facts.command = "watch";
        facts.port = name;
        facts.slot = slot;
        facts.identity = identity;
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
        // The job's line is the one the station holds, lent to the probe and
        // the run in turn.
        const LineOpener lent = [&held](const PortName&, int baud, std::string* why) -> std::unique_ptr<Line> {
            if (!held->SetSpeed(baud, why)) return nullptr;
            return std::make_unique<BorrowedLine>(*held);
        };
        if (ready && o_.probe) {
            const Record found = ProbePrinter(*port, run, lent, SystemClock());
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
            BoardSink progress(o_.board, slot, name, n, steps.size());
            RecordCollector collector(BlankRecords(name, steps), &progress);
            JournaledJob job(journal_, facts, collector);
            // Ending at once (a second Ctrl-C) still journals what the job did.
            const int finisher = stop_.AddFinisher([&] {
                bool written = false;
                std::string why;
                if (job.Write("the station was stopped at once", &written, &why)) Announce(job.Facts());
            });
            RunPrinter(*port, steps, run, lent, SystemClock(), collector);
            held.reset();  // the port is let go, its settings put back, before the line is printed
            bool written = false;
            job.Write("the job stopped", &written, &error);
            stop_.RemoveFinisher(finisher);
            Finished(job.Facts(), written, error);
            return;
        }
        held.reset();
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

    // The first key that failed, and why, as the operator may read it.
    static std::pair<std::string, std::string> FirstFailure(const JobFacts& job) {
        for (const Record& r : job.records)
            if (r.result != Result::Ok) return {r.key, EscapeControls(WithoutSecret(r.key, r.value, r.detail))};
        return {};
    }

    void Announce(const JobFacts& job) {
        const std::string address = ReadBack(job.records, "bt-address");
        const Result result = JobResult(job.records);
        const auto [failedKey, why] = FirstFailure(job);
        if (o_.board != nullptr)
            o_.board->Finished(job.slot, job.port, job.n, address, result == Result::Ok, failedKey, why);
        if (o_.json) {
            nlohmann::json j = {{"v", 1},
                                {"n", job.n},
                                {"slot", job.slot},
                                {"port", job.port},
                                {"bt_address", address},
                                {"bt_name", ReadBack(job.records, "bt-name")},
                                {"result", ResultName(result)}};
            TheConsole().Out(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
            return;
        }
        std::string line = std::to_string(job.n) + "  " + EscapeControls(job.slot) + "  " +
                           (job.slot != job.port ? EscapeControls(job.port) + "  " : "") +
                           (address.empty() ? "-" : EscapeControls(address)) + "  " + ResultName(result);
        if (!failedKey.empty()) line += "  (" + failedKey + ": " + why + ")";
        TheConsole().Out(line);
    }

    // A port the station could not take: one line, no number, nothing journaled.
    void NotConfigured(const std::string& port, const std::string& slot, const std::string& why) {
        if (o_.json) {
            const nlohmann::json j = {
                {"v", 1}, {"slot", slot}, {"port", port}, {"result", "not-configured"}, {"detail", why}};
            TheConsole().Out(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
            return;
        }
        TheConsole().Out("-  " + EscapeControls(slot) + "  " + (slot != port ? EscapeControls(port) + "  " : "") +
                         "not configured: " + EscapeControls(why));
    }

    void Fail(const std::string& why) {
        failed_ = true;
        TheConsole().Err("morvane-cli: " + why + "; the station stops");
    }

    const StationOptions& o_;
    Journal& journal_;
    StopControl& stop_;
    bool listing_ = false;
    std::atomic<bool> failed_{false};
    std::map<std::string, std::shared_ptr<Slot>> taken_;
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
