#include "cli/commands.h"

#include <iostream>

#include "cli/batch.h"
#include "cli/codepage.h"
#include "cli/console.h"
#include "cli/input.h"
#include "cli/ledger.h"
#include "cli/line.h"
#include "cli/net_probe.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "cli/port_resolve.h"
#include "cli/platform.h"
#include "cli/profile.h"
#include "cli/runner.h"
#include "cli/tcp_line.h"

namespace morvane::cli {

namespace {

int Usage(const std::string& message) {
    TheConsole().Err("morvane-cli: " + message);
    return kExitUsage;
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
    // apply
    std::string text;
    if (!ReadProfileText(o.profile, std::cin, &text, error)) return false;
    std::vector<ProfileEntry> entries;
    ProfileError bad;
    if (!ParseProfile(text, &entries, &bad)) {
        *error = o.profile + ":" + std::to_string(bad.line) + ": " + bad.message;
        return false;
    }
    for (const ProfileEntry& e : entries) {
        Request r;
        const std::string origin = o.profile + ":" + std::to_string(e.line);
        if (!PlanSet(e.key, e.value, origin, &r, error)) {
            *error = origin + ": " + *error;
            return false;
        }
        requests->push_back(r);
    }
    MoveBaudLast(requests);
    return true;
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

LineOpener SystemLines(std::chrono::milliseconds connectTimeout) {
    return [connectTimeout](const PortName& p, int baud, std::string* why) {
        return p.kind == PortName::Kind::Tcp ? OpenTcpLine(p, connectTimeout, why) : OpenLine(p, baud, why);
    };
}

void RunPorts(const std::vector<PortName>& ports, const Options& o, const std::function<void(std::size_t)>& job) {
    std::string note;
    RunBatch(ports, static_cast<std::size_t>(o.jobs), job, &note);
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

int RunProbe(const Options& o, StopControl& stop) {
    RunOptions run;
    int status = 0;
    if (!PrepareRun(o, stop, &run, &status)) return status;
    if (!o.net.empty()) return RunNetProbe(o, run, stop);
    std::vector<PortName> ports;
    std::string error;
    if (!ResolvePorts(o.ports, &ports, &error)) return Usage(error);
    if (ports.empty()) {
        // Only where printers are plugged in: never a console or a modem.
        for (const PortInfo& info : ListPorts())
            if (ProbedByDefault(info.kind))
                if (const auto p = ParsePortName(info.name)) ports.push_back(*p);
        if (ports.empty())
            return Usage("no USB-serial, CDC-ACM, Bluetooth or USB printer port found to probe; name one with --port");
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
    RunPorts(ports, o, [&](std::size_t i) {
        sinks[i]->Sending(0);
        sinks[i]->Done(0, ProbePrinter(ports[i], run, SystemLines(run.connectTimeout), SystemClock()));
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
    std::vector<PortName> ports;
    if (!ResolvePorts(o.ports, &ports, &error)) return Usage(error);
    if (ports.empty() && !o.dryRun) return Usage("no port given (-p PORT)");

    // Every printer's frames are made, and every text checked, before
    // anything is sent.
    const std::size_t printers = std::max<std::size_t>(ports.size(), 1);
    std::vector<std::vector<Step>> steps(printers);
    for (std::size_t i = 0; i < printers; ++i) {
        for (const Request& r : requests) {
            Step step;
            if (!PrepareStep(r, i + 1, run.codePage, &step, &error)) {
                const std::string where = ports.size() > 1 ? " (printer " + std::to_string(i + 1) + ")" : "";
                return Usage(r.origin + ": " + error + where);
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

    Ledger ledger([&](const Record& r) { TheConsole().Out(FormatRecord(r, o.json)); });
    std::vector<JobSink*> sinks;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        std::vector<Record> keys;
        for (const Step& s : steps[i]) {
            Record blank;
            blank.port = ports[i].text;
            blank.key = std::string(s.setting->key);
            blank.value = s.shownValue;
            blank.read = s.read;
            keys.push_back(blank);
        }
        sinks.push_back(&ledger.Add(std::move(keys)));
    }
    std::vector<PrinterSpeed> speeds(ports.size());
    stop.BeginRun(ledger);
    RunPorts(ports, o, [&](std::size_t i) {
        speeds[i] = {ports[i].text,
                     RunPrinter(ports[i], steps[i], run, SystemLines(run.connectTimeout), SystemClock(), *sinks[i])};
    });
    stop.EndRun();
    PrintSummary(ports.size(), ledger, speeds);
    return FinalStatus(ledger, stop);
}

}  // namespace

int RunCommand(const std::string& command, const Options& o, StopControl& stop) {
    if (command == "settings") {
        for (const std::string& line : FormatSettings(o.json)) TheConsole().Out(line);
        return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
    }
    if (command == "ports") {
        for (const PortInfo& port : ListPorts()) TheConsole().Out(FormatPort(port, o.json));
        return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
    }
    if (command == "probe") return RunProbe(o, stop);
    return RunJobs(command, o, stop);
}

}  // namespace morvane::cli
