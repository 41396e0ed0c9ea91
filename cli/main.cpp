// morvane-cli: the dialog's configuration frames from the command line, for
// scripts and for setting up printers in numbers. See --help.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <exception>

#include "cli/commands.h"
#include "cli/text/console.h"
#include "cli/options.h"
#include "cli/text/output.h"
#include "cli/system/platform.h"
#include "cli/run/stop_control.h"

namespace morvane::cli {
namespace {

constexpr char kDescription[] =
    "Reads and changes the settings of thermal printers (Bluetooth name, address and\n"
    "password, speed, darkness, sensors, ...) with the same frames as the Morvane\n"
    "dialog, reading each reply only as long as it needs. Each key's result is\n"
    "written the moment it is known: ok, refused, no-answer (the printer may or may\n"
    "not have taken it), error, or not-sent. A job stops at the first no-answer or\n"
    "line error unless --keep-going; a summary follows on standard error.\n"
    "\n"
    "Exit status: 0 all done; 1 a printer refused a setting, or --verify read back\n"
    "another text; 2 bad usage or bad input (nothing sent); 3 no answer, a port that\n"
    "cannot be opened, is in use or hung up, or keys not sent; 4 a result could not\n"
    "be written (a full disk, a closed pipe) or the command failed inside; 130 and\n"
    "143 stopped by SIGINT (Ctrl-C) or SIGTERM, every key recorded.\n"
    "In a text value, {n} stands for the printer's place (1-based) in the port list.";

// 2^53 - 1: the largest station number, as the journal gives them.
constexpr long long kLargestNumber = (1LL << 53) - 1;

const char* const kCommands = "ports, settings, get, set, apply, probe, watch, journal or doctor";

int Usage(const std::string& message) {
    TheConsole().Err("morvane-cli: " + message);
    return kExitUsage;
}

// The first argument that is neither an option nor an option's value: the
// command the user meant, known or not.
std::string FirstWord(const CLI::App& app, const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 1 && a[0] == '-') {
            const std::string name = a.substr(0, a.find('='));
            const CLI::Option* option = nullptr;
            try {
                option = app.get_option(name);
            } catch (const CLI::OptionNotFound&) {}
            if (option != nullptr && option->get_type_size() != 0 && a.find('=') == std::string::npos) ++i;
            continue;
        }
        return a;
    }
    return {};
}

}  // namespace
}  // namespace morvane::cli

int main(int argc, char** argv) {
    using namespace morvane::cli;
    // Never destroyed: the signal thread may still be in it while main returns.
    StopControl& stop = *new StopControl;
    WatchStopSignals([&stop](int status, bool atOnce) { stop.OnSignal(status, atOnce); });
    TheConsole().OnFailure([&stop] { stop.RequestStop(); });
    PrepareConsole();
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char*> argPointers;
    for (const std::string& a : args) argPointers.push_back(const_cast<char*>(a.c_str()));

    Options o;
    CLI::App app(kDescription, "morvane-cli");
    app.set_version_flag("--version", "morvane-cli " MORVANE_VERSION);
    app.add_option("-p,--port", o.ports,
                   "printer port (repeatable, or a comma list): a tty device such as /dev/ttyUSB0, "
                   "COMn on Windows, USBn:, LPTn, or a network printer tcp://HOST[:PORT] (port 9100 by default)")
        ->delimiter(',')
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("-b,--baud", o.baud, "line speed (default 9600)");
    app.add_option("--timeout", o.timeoutMs, "longest wait for one reply, in ms (default 1000)");
    app.add_flag("--json", o.json, "one JSON object per line");
    app.add_flag("--dry-run", o.dryRun, "print each frame in hex and open nothing");
    app.add_flag("--trace", o.trace, "every frame and reply in hex with a time, on standard error");
    app.add_flag("--verify", o.verify, "read bt-name and bt-password back after setting them");
    app.add_flag("--keep-going", o.keepGoing, "after a key gets no answer, send the printer's other keys anyway");
    app.add_flag("--skip-same", o.skipSame,
                 "read bt-name and bt-password first, and set them only where they hold another text");
    app.add_option("--connect-timeout", o.connectTimeoutMs,
                   "longest wait for a network printer to take the connection, in ms (default: --timeout's; "
                   "probe --net: 250)")
        ->check(CLI::Range(1, 3600000));
    app.add_option("--jobs", o.jobs,
                   "printers at once (default: every serial, USB and parallel port at once, and 64 network "
                   "printers)")
        ->check(CLI::Range(1, 100000));
    app.add_option("--journal", o.journal, "add each job's record to this journal (JSON lines; set, apply and watch)");
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
    CLI::App* probe = app.add_subcommand("probe", "find printers: try every speed on each port");
    probe->add_option("--net", o.net,
                      "find network printers in an IPv4 range, CIDR[:PORT] (port 9100 by default): connect to each "
                      "address and send only the read-address frame, and the name read to printers");
    probe->add_flag("--force", o.force, "with --net: walk a range larger than a /16");
    CLI::App* watch =
        app.add_subcommand("watch", "the station: configure each printer port that appears, and journal it");
    watch->add_option("--profile", o.profile, "the profile to apply to each printer")->required();
    watch->add_flag("--probe", o.probe, "find each printer's speed first");
    watch
        ->add_option("--busy-wait", o.busyWaitSeconds,
                     "how long a port another program holds is waited for, in s (default 30)")
        ->check(CLI::Range(0, 3600));
    watch->add_option("--slots", o.slotsFile,
                      "names of the places printers are plugged into: lines PLACE = NAME, the place a USB port "
                      "path (1-1.3) or a port's name");
    watch->add_option("--http", o.http,
                      "show the operator's screen in a browser: listen at [ADDR:]PORT (127.0.0.1 unless an "
                      "address is given; port 0: any free one); its address, with its token, goes to standard error");
    watch
        ->add_option(
            "--start", o.start,
            "the lowest number {n} to give, at most 9007199254740991 (default: one past the journal's highest)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                // Told here, as bad usage, rather than by the first claim once printers come.
                const char* digits = text.data() + (text.rfind('+', 0) == 0 ? 1 : 0);
                long long n = 0;
                const auto [end, ec] = std::from_chars(digits, text.data() + text.size(), n);
                const bool beyond =
                    ec == std::errc() ? n > kLargestNumber : ec == std::errc::result_out_of_range && *digits != '-';
                if (!beyond) return {};
                return text + " is beyond " + std::to_string(kLargestNumber) +
                       ", the largest number that every JSON reader keeps exactly";
            },
            ""));
    CLI::App* journal = app.add_subcommand("journal", "show a journal: the latest job of each printer");
    journal->add_option("FILE", o.journalFile, "the journal")->required();
    journal->add_option("--address", o.journalAddress, "only the printer with this Bluetooth address");
    journal->add_option("--port", o.journalPort, "only the jobs on this port");
    journal->add_flag("--all", o.journalAll, "the whole history, interrupted jobs too");
    journal->add_flag("--csv", o.csv, "number, address, name, password, time and result, as CSV");
    journal
        ->add_flag("--report", o.report,
                   "the shift: jobs ok and failed, first-pass yield, units per hour, failures by key and slot per host")
        ->excludes("--csv")
        ->excludes("--all")
        ->excludes("--address")
        ->excludes("--port");
    journal
        ->add_option("--since", o.since,
                     "with --report: jobs at or after this UTC time, as the journal writes it "
                     "(2026-12-09T10:15:02.123Z) or shorter (2026-12-09T10:15, 2026-12-09T10, 2026-12-09)")
        ->needs("--report");
    journal->add_option("--until", o.until, "with --report: jobs before this UTC time (the same forms)")
        ->needs("--report");
    app.add_subcommand("doctor",
                       "what stands between this machine and its printers, each with its fix (exit 1 when something "
                       "does); --journal FILE: the journal to check, else the current folder")
        ->add_option("--udev-rule", o.udevRule,
                     "print a udev rule for the printers a usb: selector names (e.g. usb:0416:5011): ModemManager "
                     "kept away, autosuspend off, group dialout may open them");

    int status = kExitOutputFailed;
    try {
        app.parse(static_cast<int>(argPointers.size()), argPointers.data());
        const std::string command = app.get_subcommands().front()->get_name();
        if (command == "watch" && o.journal.empty()) {
            status = Usage("watch needs --journal FILE: every printer's number and record go there");
        } else {
            status = RunCommand(command, o, stop);
        }
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            status = app.exit(e);
        } else if (app.get_subcommands().empty()) {
            const std::string word = FirstWord(app, args);
            status = word.empty() ? Usage(std::string("no command given (") + kCommands + "; --help tells more)")
                                  : Usage("unknown command \"" + word + "\" (" + kCommands + ")");
        } else {
            status = Usage(std::string(e.what()) + " (morvane-cli --help tells more)");
        }
    } catch (const std::exception& e) {
        TheConsole().Err(std::string("morvane-cli: internal failure: ") + e.what());
    }
    if (TheConsole().Failed()) {
        // Standard error may still take it when standard output is what failed.
        std::fprintf(stderr, "morvane-cli: %s\n", TheConsole().FailureText().c_str());
        std::fflush(stderr);
        status = kExitOutputFailed;
    }
    stop.Finish();
    RestoreConsole();
    return status;
}
