#include "cli/commands.h"

#include <atomic>
#include <filesystem>
#include <iostream>

#include "cli/run/batch.h"
#include "cli/text/codepage.h"
#include "cli/text/console.h"
#include "cli/doctor/doctor.h"
#include "cli/text/input.h"
#include "cli/journal/job_record.h"
#include "cli/journal/journal.h"
#include "cli/journal/journal_report.h"
#include "cli/journal/journal_view.h"
#include "cli/station/station.h"
#include "cli/run/ledger.h"
#include "cli/run/line.h"
#include "cli/net/net_probe.h"
#include "cli/text/output.h"
#include "cli/run/plan.h"
#include "cli/ports/port_resolve.h"
#include "cli/system/platform.h"
#include "cli/text/profile.h"
#include "cli/run/runner.h"
#include "cli/station/screen/station_screen.h"
#include "cli/net/tcp_line.h"

namespace morvane::cli {

namespace {

int Usage(const std::string& message) {
    TheConsole().Err("morvane-cli: " + message);
    return kExitUsage;
}

// A profile's settings, checked, the speed last.
bool ProfileRequests(const std::string& profile, std::vector<Request>* requests, std::string* error) {
    std::string text;
    if (!ReadProfileText(profile, std::cin, &text, error)) return false;
    std::vector<ProfileEntry> entries;
    ProfileError bad;
    if (!ParseProfile(text, &entries, &bad)) {
        *error = profile + ":" + std::to_string(bad.line) + ": " + bad.message;
        return false;
    }
    for (const ProfileEntry& e : entries) {
        Request r;
        const std::string origin = profile + ":" + std::to_string(e.line);
        if (!PlanSet(e.key, e.value, origin, &r, error)) {
            *error = origin + ": " + *error;
            return false;
        }
        requests->push_back(r);
    }
    MoveBaudLast(requests);
    return true;
}

bool BuildRequests(const std::string& command, const Options& o, std::vector<Request>* requests, std::string* error) {
    if (command == "get") {
        for (std::size_t i = 0; i < o.keys.size(); ++i) {
            Request r;
            if (!PlanGet(o.keys[i], "argument " + std::to_string(i + 1), &r, error)) return false;
            requests->push_back(r);
        }
        return true;
    }
    if (command == "set") {
        for (std::size_t i = 0; i < o.assignments.size(); ++i) {
            const std::string& a = o.assignments[i];
            const std::size_t eq = a.find('=');
            if (eq == std::string::npos) {
                *error = "\"" + a + "\" is not KEY=VALUE";
                return false;
            }
            Request r;
            if (!PlanSet(a.substr(0, eq), a.substr(eq + 1), "argument " + std::to_string(i + 1), &r, error))
                return false;
            requests->push_back(r);
        }
        return true;
    }
    return ProfileRequests(o.profile, requests, error);
}

std::string BaudList() {
    std::string out;
    for (const SettingValue& v : FindSetting("baud")->values) out += (out.empty() ? "" : " ") + v.name;
    return out;
}

// The settings every job shares, checked; false after the usage message.
bool PrepareRun(const Options& o, StopControl& stop, RunOptions* run, int* status) {
    CodePage page = DefaultCodePage();
    std::string error;
    if (!o.codePage.empty() && !ResolveCodePage(o.codePage, &page, &error)) {
        *status = Usage(error);
        return false;
    }
    if (!CheckKeepsAscii(page, &error)) {
        *status = Usage(error);
        return false;
    }
    if (FindValueIndex(*FindSetting("baud"), std::to_string(o.baud)) == std::nullopt) {
        *status = Usage("--baud " + std::to_string(o.baud) + " is not one of " + BaudList());
        return false;
    }
    if (o.timeoutMs <= 0) {
        *status = Usage("--timeout must be at least 1 ms");
        return false;
    }
    run->baud = o.baud;
    run->timeout = std::chrono::milliseconds(o.timeoutMs);
    run->connectTimeout = o.connectTimeoutMs > 0 ? std::chrono::milliseconds(o.connectTimeoutMs) : run->timeout;
    run->skipSame = o.skipSame;
    run->verify = o.verify;
    run->keepGoing = o.keepGoing;
    run->codePage = page;
    run->stop = &stop.Flag();
    if (o.trace) run->trace = [](const std::string& line) { TheConsole().Err(line); };
    return true;
}

LineOpener SystemLines(const RunOptions& run) {
    return [connectTimeout = run.connectTimeout, stop = run.stop](const PortName& p, int baud, std::string* why) {
        return p.kind == PortName::Kind::Tcp ? OpenTcpLine(p, connectTimeout, why, stop) : OpenLine(p, baud, why);
    };
}

// syncs: each record waits for a journal's sync.
void RunPorts(const std::vector<PortName>& ports, const Options& o, bool syncs,
              const std::function<void(std::size_t)>& job) {
    std::string note;
    RunBatch(ports, static_cast<std::size_t>(o.jobs), syncs, job, &note);
    if (!note.empty()) TheConsole().Err("morvane-cli: " + note);
}

// The status once a run is over: a result that could not be written, then a
// stop signal, then what the printers said.
int FinalStatus(const Ledger& ledger, const StopControl& stop) {
    if (TheConsole().Failed()) return kExitOutputFailed;
    if (stop.SignalStatus() != 0) return stop.SignalStatus();
    return ExitStatusOf(ledger.Counts());
}

void PrintSummary(std::size_t printers, const Ledger& ledger, const std::vector<PrinterSpeed>& speeds) {
    for (const std::string& line : FormatSummary(printers, ledger.Counts(), speeds)) TheConsole().Err(line);
}

// The ports the user named, selectors resolved; false with the exit status.
bool Ports(const Options& o, std::vector<PortName>* ports, int* status) {
    std::vector<Resolution> resolutions;
    std::string error;
    const ResolveStatus resolved = ResolvePorts(o.ports, ports, &resolutions, &error);
    if (resolved == ResolveStatus::BadUsage) {
        *status = Usage(error);
        return false;
    }
    if (resolved == ResolveStatus::NoMatch) {
        TheConsole().Err("morvane-cli: " + error);
        *status = kExitFailed;
        return false;
    }
    if (o.dryRun)
        for (const Resolution& r : resolutions) TheConsole().Out(FormatResolution(r, o.json));
    return true;
}

void WarnTorn(const Journal& journal);

// Records for the keys of every port as the user named it, before the
// ports are resolved: what a stop before the run writes, so that every key
// has its record from the command's first moment.
std::vector<Record> PendingRecords(const std::string& port, const std::vector<Request>& requests, std::size_t place) {
    std::vector<Record> records;
    records.reserve(requests.size());
    for (const Request& r : requests) {
        Record record;
        record.port = port;
        record.key = std::string(r.setting->key);
        record.value = r.read ? std::string() : ExpandPlace(r.value, place);
        record.read = r.read;
        records.push_back(record);
    }
    return records;
}

// Told to stop before the run began: every key gets its not-sent record.
int StoppedBeforeTheRun(Ledger& ledger, StopControl& stop) {
    ledger.Close("the command was interrupted");
    stop.EndRun();
    return TheConsole().Failed() ? kExitOutputFailed : stop.SignalStatus();
}

bool Stopping(const StopControl& stop) { return stop.Flag().load(); }

// Opens the journal, waiting (bounded, and while not told to stop) for a
// lock another program holds; the command says whom it waits for.
std::unique_ptr<Journal> OpenJournal(const std::string& path, StopControl& stop, int* status) {
    JournalOpening opening;
    opening.stop = &stop.Flag();
    opening.onWait = [&](const std::string& holder) {
        TheConsole().Err("morvane-cli: the journal " + path + " is locked" + (holder.empty() ? "" : " by " + holder) +
                         "; waiting for it up to " + std::to_string(kJournalLockBound.count() / 1000) + " s");
    };
    JournalOpened opened = JournalOpened::Refused;
    std::string error;
    std::unique_ptr<Journal> journal = Journal::Open(path, opening, &opened, &error);
    switch (opened) {
        case JournalOpened::Open: WarnTorn(*journal); break;
        case JournalOpened::Refused: *status = Usage(error); break;
        case JournalOpened::InUse:
            TheConsole().Err("morvane-cli: " + error + "; nothing was sent");
            *status = kExitFailed;
            break;
        case JournalOpened::Stopped: *status = stop.SignalStatus(); break;
    }
    return journal;
}

void WarnTorn(const Journal& journal) {
    if (journal.TornLines() == 0) return;
    TheConsole().Err("morvane-cli: " + journal.Path() + ": skipped " + std::to_string(journal.TornLines()) +
                     " line(s) cut short (a crash or a power cut); the next record starts on a line of its own");
}

int RunProbe(const Options& o, StopControl& stop) {
    RunOptions run;
    int status = 0;
    if (!PrepareRun(o, stop, &run, &status)) return status;
    if (!o.net.empty()) return RunNetProbe(o, run, stop);
    std::vector<PortName> ports;
    std::string error;
    Request address;
    PlanGet("bt-address", "probe", &address, &error);
    Ledger early([&](const Record& r) { TheConsole().Out(FormatProbe(r, o.json)); });
    for (std::size_t i = 0; i < o.ports.size(); ++i) early.Add(PendingRecords(o.ports[i], {address}, i + 1));
    if (!o.dryRun) stop.BeginRun(early);
    if (!Ports(o, &ports, &status)) {
        stop.EndRun();
        return status;
    }
    if (Stopping(stop)) return StoppedBeforeTheRun(early, stop);
    if (ports.empty()) {
        // Only where printers are plugged in: never a console or a modem.
        for (const PortInfo& info : ListPorts())
            if (ProbedByDefault(info.kind))
                if (const auto p = ParsePortName(info.name)) ports.push_back(*p);
        if (Stopping(stop)) return StoppedBeforeTheRun(early, stop);
        if (ports.empty()) {
            stop.EndRun();
            return Usage("no USB-serial, CDC-ACM, Bluetooth or USB printer port found to probe; name one with --port");
        }
    }
    Request request;
    Step step;
    PlanGet("bt-address", "probe", &request, &error);
    PrepareStep(request, 1, run.codePage, &step, &error);
    if (o.dryRun) {
        for (const PortName& p : ports) TheConsole().Out(FormatDryRun(p.text, step, o.json));
        return kExitDone;
    }

    Ledger ledger([&](const Record& r) { TheConsole().Out(FormatProbe(r, o.json)); });
    std::vector<JobSink*> sinks;
    for (const PortName& p : ports) {
        Record blank;
        blank.port = p.text;
        blank.key = "bt-address";
        blank.read = true;
        sinks.push_back(&ledger.Add({blank}));
    }
    stop.BeginRun(ledger);
    RunPorts(ports, o, false, [&](std::size_t i) {
        sinks[i]->Sending(0);
        sinks[i]->Done(0, ProbePrinter(ports[i], run, SystemLines(run), SystemClock()));
    });
    stop.EndRun();
    PrintSummary(ports.size(), ledger, {});
    return FinalStatus(ledger, stop);
}

int RunJobs(const std::string& command, const Options& o, StopControl& stop) {
    RunOptions run;
    int status = 0;
    if (!PrepareRun(o, stop, &run, &status)) return status;
    std::vector<Request> requests;
    std::string error;
    if (!BuildRequests(command, o, &requests, &error)) return Usage(error);
    if (requests.empty())
        return Usage(command == "apply" ? o.profile + ": no settings in it" : "nothing to " + command);
    if (o.ports.empty() && !o.dryRun) return Usage("no port given (-p PORT)");
    // From here on a stop gives every key its record, before the run too.
    std::vector<Request> recorded = requests;
    if (!o.journal.empty())
        for (const char* key : {"bt-address", "bt-name"}) {
            Request read;
            PlanGet(key, "--journal", &read, &error);
            recorded.push_back(read);
        }
    Ledger early([&](const Record& r) { TheConsole().Out(FormatRecord(r, o.json)); });
    for (std::size_t i = 0; i < o.ports.size(); ++i) early.Add(PendingRecords(o.ports[i], recorded, i + 1));
    if (!o.dryRun) stop.BeginRun(early);
    const auto leave = [&](int result) {
        stop.EndRun();
        return result;
    };
    std::vector<PortName> ports;
    if (!Ports(o, &ports, &status)) return leave(status);
    if (Stopping(stop)) return StoppedBeforeTheRun(early, stop);
    if (ports.empty() && !o.dryRun) return leave(Usage("no port given (-p PORT)"));
    // A journaled job ends with what the printer says it is.
    requests = recorded;

    // Every printer's frames are made, and every text checked, before
    // anything is sent.
    const std::size_t printers = std::max<std::size_t>(ports.size(), 1);
    std::vector<std::vector<Step>> steps(printers);
    for (std::size_t i = 0; i < printers; ++i) {
        steps[i].reserve(requests.size());
        for (const Request& r : requests) {
            Step step;
            if (!PrepareStep(r, i + 1, run.codePage, &step, &error)) {
                const std::string where = ports.size() > 1 ? " (printer " + std::to_string(i + 1) + ")" : "";
                return leave(Usage(r.origin + ": " + error + where));
            }
            steps[i].push_back(step);
        }
    }
    if (o.dryRun) {
        for (std::size_t i = 0; i < printers; ++i)
            for (const Step& s : steps[i])
                TheConsole().Out(FormatDryRun(ports.empty() ? "-" : ports[i].text, s, o.json));
        return kExitDone;
    }

    std::unique_ptr<Journal> journal;
    if (!o.journal.empty()) {
        journal = OpenJournal(o.journal, stop, &status);
        if (Stopping(stop)) return StoppedBeforeTheRun(early, stop);
        if (!journal && status == kExitFailed) {
            early.Close("the journal is in use");  // a failure of the run: every key is told
            return leave(TheConsole().Failed() ? kExitOutputFailed : status);
        }
        if (!journal) return leave(status);
    }
    const std::vector<PortInfo> listed = journal ? ListPorts() : std::vector<PortInfo>{};
    if (Stopping(stop)) return StoppedBeforeTheRun(early, stop);

    // The run's own records, port by port; a stop from here on is the run's.
    Ledger ledger([&](const Record& r) { TheConsole().Out(FormatRecord(r, o.json)); });
    std::vector<JobSink*> sinks;
    for (std::size_t i = 0; i < ports.size(); ++i) sinks.push_back(&ledger.Add(BlankRecords(ports[i].text, steps[i])));
    std::vector<PrinterSpeed> speeds(ports.size());
    std::atomic<bool> unrecorded{false};
    stop.BeginRun(ledger);
    RunPorts(ports, o, journal != nullptr, [&](std::size_t i) {
        RecordCollector collected(BlankRecords(ports[i].text, steps[i]), sinks[i]);
        if (!journal) {
            speeds[i] = {ports[i].text,
                         RunPrinter(ports[i], steps[i], run, SystemLines(run), SystemClock(), collected)};
            return;
        }
        JobFacts facts;
        facts.command = command;
        facts.port = ports[i].text;
        facts.identity = FindListedPort(ports[i].text, listed);
        std::error_code ec;
        if (command == "apply" && o.profile != "-") facts.profile = std::filesystem::absolute(o.profile, ec).string();
        JournaledJob job(*journal, facts, collected);
        // Ending at once (a second Ctrl-C) still journals what the job did.
        const int finisher = stop.AddFinisher([&] {
            bool written = false;
            std::string why;
            job.Write("the command was interrupted", &written, &why);
        });
        speeds[i] = {ports[i].text, RunPrinter(ports[i], steps[i], run, SystemLines(run), SystemClock(), collected)};
        bool written = false;
        std::string why;
        if (!job.Write("the job stopped", &written, &why) && !why.empty()) {
            TheConsole().Err("morvane-cli: the job on " + ports[i].text + " could not be journaled: " + why);
            unrecorded = true;
        }
        stop.RemoveFinisher(finisher);
    });
    stop.EndRun();
    PrintSummary(ports.size(), ledger, speeds);
    return unrecorded ? kExitOutputFailed : FinalStatus(ledger, stop);
}

int RunWatch(const Options& o, StopControl& stop) {
    StationOptions station;
    int status = 0;
    if (!PrepareRun(o, stop, &station.run, &status)) return status;
    std::string error;
    if (!ProfileRequests(o.profile, &station.requests, &error)) return Usage(error);
    if (station.requests.empty()) return Usage(o.profile + ": no settings in it");
    for (const std::string& name : o.ports) {
        std::string bad;
        std::optional<Selector> selector = ParseSelector(name, &bad);
        if (!bad.empty()) return Usage(bad);
        if (!selector) {
            // A plain port name: taken whenever it is there.
            if (!ParsePortName(name)) return Usage("port \"" + name + "\" names no port");
            selector = Selector{Selector::Kind::Named, name, {}, {}, {}, {}};
        }
        station.selectors.push_back(*selector);
    }
    station.profile = o.profile;
    station.start = std::max<long long>(o.start, 1);
    station.probe = o.probe;
    station.busyWait = std::chrono::seconds(o.busyWaitSeconds);
    if (!o.slotsFile.empty()) {
        std::optional<SlotNames> slots = SlotNames::Read(o.slotsFile, &error);
        if (!slots) return Usage(error);
        station.slots = *slots;
    }
    station.json = o.json;
    std::optional<ScreenAddress> screenAddress;
    if (!o.http.empty() && !(screenAddress = ParseScreenAddress(o.http, &error))) return Usage(error);
    // The journal is there and ours before any printer is taken.
    std::unique_ptr<Journal> journal = OpenJournal(o.journal, stop, &status);
    if (!journal) return status;
    StationBoard board(station.slots.Names());
    std::unique_ptr<StationScreen> screen;
    if (screenAddress) {
        screen = StationScreen::Start(*screenAddress, board, &error);
        if (!screen) {
            TheConsole().Err("morvane-cli: " + error);
            return kExitFailed;
        }
        station.board = &board;
        TheConsole().Err("station screen: " + screen->Url());
    }
    const std::unique_ptr<PortEvents> events = PortEvents::Open();
    TheConsole().Err("morvane-cli: waiting for printers (Ctrl-C stops once the jobs under way are done)");
    const int result = RunStation(station, *journal, stop, *events);
    screen.reset();
    return TheConsole().Failed() ? kExitOutputFailed : result;
}

}  // namespace

int RunCommand(const std::string& command, const Options& o, StopControl& stop) {
    if (command == "settings" || command == "ports" || command == "journal" || command == "doctor")
        if (const int stopped = stop.Started()) return stopped;
    if (command == "doctor") return RunDoctor({o.journal, o.ports}, o.udevRule, o.json);
    if (command == "settings") {
        for (const std::string& line : FormatSettings(o.json)) TheConsole().Out(line);
        return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
    }
    if (command == "ports") {
        std::vector<PortInfo> ports = ListPorts();
        AddOpenedAccess(&ports);
        for (const PortInfo& port : ports) TheConsole().Out(FormatPort(port, o.json));
        return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
    }
    if (command == "probe") return RunProbe(o, stop);
    if (command == "watch") return RunWatch(o, stop);
    if (command == "journal" && o.report) return ShowJournalReport(o.journalFile, {o.since, o.until, o.json});
    if (command == "journal")
        return ShowJournal(o.journalFile, {o.journalAll, o.journalAddress, o.journalPort, o.csv, o.json});
    return RunJobs(command, o, stop);
}

}  // namespace morvane::cli
