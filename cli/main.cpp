// morvane-cli: the dialog's configuration frames from the command line, for
// scripts and for setting up printers in numbers. See --help.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cli/codepage.h"
#include "cli/line.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "cli/platform.h"
#include "cli/profile.h"
#include "cli/runner.h"

namespace morvane::cli {
namespace {

constexpr char kDescription[] =
    "Reads and changes the settings of thermal printers (Bluetooth name, address and\n"
    "password, speed, darkness, sensors, ...) with the same frames as the Morvane\n"
    "dialog, reading each reply only as long as it needs.\n"
    "\n"
    "Exit status: 0 all done; 1 a printer refused a setting; 2 bad usage or a bad\n"
    "profile (nothing sent); 3 no answer, or a port that cannot be opened.\n"
    "In a text value, {n} stands for the printer's place (1-based) in the port list.";

constexpr unsigned kProgressTickMs = 100;

struct Options {
    std::vector<std::string> ports;
    int baud = 9600;
    int timeoutMs = 1000;
    bool json = false;
    bool dryRun = false;
    bool trace = false;
    bool verify = false;
    std::string codePage;
    std::vector<std::string> keys;         // get
    std::vector<std::string> assignments;  // set
    std::string profile;                   // apply
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "morvane-cli: %s\n", message.c_str());
    return kExitUsage;
}

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void PrintError(const std::string& line) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);  // one write: lines from threads stay whole
}

bool ReadProfile(const std::string& name, std::string* text, std::string* error) {
    if (name == "-") {
        *text = std::string(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    const std::u8string utf8(name.begin(), name.end());
    std::ifstream in(std::filesystem::path(utf8), std::ios::binary);
    if (!in) {
        *error = "cannot read " + name;
        return false;
    }
    *text = std::string(std::istreambuf_iterator<char>(in), {});
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
    // apply
    std::string text;
    if (!ReadProfile(o.profile, &text, error)) return false;
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

bool SameDevice(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(a, ec1);
    const auto cb = std::filesystem::weakly_canonical(b, ec2);
    return ec1 || ec2 ? a == b : ca == cb;
}

bool ResolvePorts(const std::vector<std::string>& names, std::vector<PortName>* ports, std::string* error) {
    for (const std::string& name : names) {
        const std::optional<PortName> port = ParsePortName(name);
        if (!port) {
            *error = "port \"" + name + "\" names no port (a device path, COMn, USBn: or LPTn)";
            return false;
        }
        std::string why;
        if (!CheckPortName(*port, &why)) {
            *error = "port \"" + name + "\": " + why;
            return false;
        }
        // Two jobs on one printer would read each other's replies.
        for (const PortName& earlier : *ports) {
            const bool same = port->kind == PortName::Kind::Device
                                  ? earlier.kind == port->kind && SameDevice(earlier.text, port->text)
                                  : earlier.kind == port->kind && earlier.number == port->number;
            if (same) {
                *error = "port \"" + name + "\" is given twice (as \"" + earlier.text + "\")";
                return false;
            }
        }
        ports->push_back(*port);
    }
    return true;
}

// Runs `job` on every port at once, with a progress line on a terminal.
template <typename Job>
void ForEachPort(std::size_t count, bool progress, const std::atomic<std::size_t>& steps, std::size_t total,
                 const Job& job) {
    std::atomic<std::size_t> finished{0};
    const auto tick = [&] {
        if (!progress) return;
        std::fprintf(stderr, "\r%zu of %zu printers done, %zu of %zu settings", finished.load(), count, steps.load(),
                     total);
        std::fflush(stderr);
    };
    RunInParallel(
        count,
        [&](std::size_t i) {
            job(i);
            ++finished;
        },
        tick, kProgressTickMs);
    if (progress) std::fprintf(stderr, "\r\033[K");
}

void PrintSummary(const std::vector<std::vector<Outcome>>& perPort) {
    std::size_t ok = 0, refused = 0, failed = 0;
    for (const auto& outcomes : perPort) {
        const int status = ExitStatusOf(outcomes);
        (status == 0 ? ok : status == 1 ? refused : failed)++;
    }
    PrintError(std::to_string(perPort.size()) + " printers: " + std::to_string(ok) + " done, " +
               std::to_string(refused) + " refused a setting, " + std::to_string(failed) +
               " did not answer or could not be reached");
}

int Run(const std::string& command, const Options& o) {
    if (command == "settings") {
        for (const std::string& line : FormatSettings(o.json)) Print(line);
        return 0;
    }
    if (command == "ports") {
        for (const PortInfo& port : ListPorts()) Print(FormatPort(port, o.json));
        return 0;
    }

    CodePage page = DefaultCodePage();
    std::string error;
    if (!o.codePage.empty() && !ResolveCodePage(o.codePage, &page, &error)) return Usage(error);
    if (FindValueIndex(*FindSetting("baud"), std::to_string(o.baud)) == std::nullopt)
        return Usage("--baud " + std::to_string(o.baud) + " is not one of 2400 4800 9600 19200 38400 57600 115200");
    if (o.timeoutMs <= 0) return Usage("--timeout must be at least 1 ms");

    std::vector<PortName> ports;
    if (!ResolvePorts(o.ports, &ports, &error)) return Usage(error);

    RunOptions run;
    run.baud = o.baud;
    run.timeout = std::chrono::milliseconds(o.timeoutMs);
    run.verify = o.verify;
    run.codePage = page;
    if (o.trace) run.trace = PrintError;
    const LineOpener open = [](const PortName& p, int baud, std::string* why) { return OpenLine(p, baud, why); };
    const auto progressFor = [&] { return ports.size() > 1 && StandardErrorIsTerminal() && !o.trace; };

    if (command == "probe") {
        if (ports.empty()) {
            for (const PortInfo& info : ListPorts())
                if (info.serial)
                    if (const auto p = ParsePortName(info.name)) ports.push_back(*p);
            if (ports.empty()) return Usage("no serial port found to probe; name one with --port");
        }
        if (o.dryRun) {
            Step step;
            Request r;
            PlanGet("bt-address", "probe", &r, &error);
            PrepareStep(r, 1, page, &step, &error);
            for (const PortName& p : ports) Print(FormatDryRun(p.text, step, o.json));
            return 0;
        }
        std::vector<Outcome> found(ports.size());
        std::atomic<std::size_t> none{0};
        ForEachPort(ports.size(), progressFor(), none, 0,
                    [&](std::size_t i) { found[i] = ProbePrinter(ports[i], run, open, SystemClock()); });
        for (const Outcome& f : found) Print(FormatProbe(f, o.json));
        if (ports.size() > 1) {
            std::vector<std::vector<Outcome>> each;
            for (const Outcome& f : found) each.push_back({f});
            PrintSummary(each);
        }
        return ExitStatusOf(found);
    }

    std::vector<Request> requests;
    if (!BuildRequests(command, o, &requests, &error)) return Usage(error);
    if (requests.empty())
        return Usage(command == "apply" ? o.profile + ": no settings in it" : "nothing to " + command);
    if (ports.empty() && !o.dryRun) return Usage("no port given (-p PORT)");

    // Every printer's frames are made, and every text checked, before
    // anything is sent.
    const std::size_t printers = std::max<std::size_t>(ports.size(), 1);
    std::vector<std::vector<Step>> steps(printers);
    for (std::size_t i = 0; i < printers; ++i) {
        for (const Request& r : requests) {
            Step step;
            if (!PrepareStep(r, i + 1, page, &step, &error)) {
                const std::string where = ports.size() > 1 ? " (printer " + std::to_string(i + 1) + ")" : "";
                return Usage(r.origin + ": " + error + where);
            }
            steps[i].push_back(step);
        }
    }
    if (o.dryRun) {
        for (std::size_t i = 0; i < printers; ++i)
            for (const Step& s : steps[i]) Print(FormatDryRun(ports.empty() ? "-" : ports[i].text, s, o.json));
        return 0;
    }

    std::vector<std::vector<Outcome>> outcomes(ports.size());
    std::atomic<std::size_t> done{0};
    ForEachPort(ports.size(), progressFor(), done, ports.size() * requests.size(),
                [&](std::size_t i) { outcomes[i] = RunPrinter(ports[i], steps[i], run, open, SystemClock(), &done); });
    std::vector<Outcome> all;
    for (const auto& perPort : outcomes)
        for (const Outcome& outcome : perPort) {
            Print(FormatOutcome(outcome, o.json));
            all.push_back(outcome);
        }
    if (ports.size() > 1) PrintSummary(outcomes);
    return ExitStatusOf(all);
}

}  // namespace
}  // namespace morvane::cli

int main(int argc, char** argv) {
    using namespace morvane::cli;
    PrepareConsole();
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char*> argPointers;
    for (const std::string& a : args) argPointers.push_back(const_cast<char*>(a.c_str()));

    Options o;
    CLI::App app(kDescription, "morvane-cli");
    app.set_version_flag("--version", "morvane-cli " MORVANE_VERSION);
    app.add_option("-p,--port", o.ports,
                   "printer port (repeatable, or a comma list): a tty device such as /dev/ttyUSB0, "
                   "COMn on Windows, USBn: or LPTn")
        ->delimiter(',')
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("-b,--baud", o.baud, "line speed (default 9600)");
    app.add_option("--timeout", o.timeoutMs, "longest wait for one reply, in ms (default 1000)");
    app.add_flag("--json", o.json, "one JSON object per line");
    app.add_flag("--dry-run", o.dryRun, "print each frame in hex and open nothing");
    app.add_flag("--trace", o.trace, "every frame and reply in hex with a time, on standard error");
    app.add_flag("--verify", o.verify, "read bt-name and bt-password back after setting them");
    app.add_option("--codepage", o.codePage,
                   "byte encoding of texts: 936, 1252, utf-8, ... (default: " + DefaultCodePage().name + ")");
    app.require_subcommand(1, 1);
    app.fallthrough();

    app.add_subcommand("ports", "list the machine's ports");
    app.add_subcommand("settings", "list every key, the values it takes, and whether it can be read");
    app.add_subcommand("get", "read bt-name, bt-address or bt-password")
        ->add_option("KEY", o.keys, "keys to read")
        ->required();
    app.add_subcommand("set", "change settings, in the order given")
        ->add_option("KEY=VALUE", o.assignments, "settings to change")
        ->required();
    app.add_subcommand("apply", "change the settings of a profile file (- reads standard input)")
        ->add_option("FILE", o.profile, "profile: one key = value a line")
        ->required();
    app.add_subcommand("probe", "find printers: try every speed on each port");

    try {
        app.parse(static_cast<int>(argPointers.size()), argPointers.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        if (app.get_subcommands().empty() && !app.remaining().empty())
            return Usage("unknown command \"" + app.remaining().front() +
                         "\" (ports, settings, get, set, apply or probe)");
        return Usage(std::string(e.what()) + " (morvane-cli --help tells more)");
    }
    const std::string command = app.get_subcommands().front()->get_name();
    try {
        const int status = Run(command, o);
        std::fflush(stdout);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvane-cli: %s\n", e.what());
        return 3;
    }
}
