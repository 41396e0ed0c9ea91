#include "cli/net/net_probe.h"

#include <atomic>

#include "cli/run/batch.h"
#include "cli/text/console.h"
#include "cli/run/ledger.h"
#include "cli/net/net_range.h"
#include "cli/ports/open_files.h"
#include "cli/text/output.h"
#include "cli/system/platform.h"
#include "cli/net/tcp_address.h"
#include "cli/net/tcp_line.h"

namespace morvane::cli {

namespace {

int Usage(const std::string& message) {
    TheConsole().Err("morvane-cli: " + message);
    return kExitUsage;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int RunNetProbe(const Options& o, RunOptions run, StopControl& stop) {
    if (!o.ports.empty()) return Usage("probe takes --net or --port, not both");
    std::string why;
    const std::optional<NetRange> range = ParseNetRange(o.net, &why);
    if (!range) return Usage("--net " + why);
    if (range->count > kMaxUnforcedHosts && !o.force)
        return Usage("--net " + o.net + " holds " + std::to_string(range->count) +
                     " addresses: a range larger than a /16 needs --force");
    run.connectTimeout = o.connectTimeoutMs > 0 ? std::chrono::milliseconds(o.connectTimeoutMs) : kScanConnectTimeout;
    const auto portAt = [&](std::uint64_t i) {
        PortName p;
        p.kind = PortName::Kind::Tcp;
        p.host = HostText(*range, i);
        p.number = range->port;
        p.text = TcpText({p.host, p.number});
        return p;
    };
    if (o.dryRun) {
        Request request;
        Step step;
        PlanGet("bt-address", "probe", &request, &why);
        PrepareStep(request, 1, run.codePage, &step, &why);
        TheConsole().Out(FormatDryRun(portAt(0).text + " .. " + portAt(range->count - 1).text, step, o.json));
        return kExitDone;
    }

    const std::size_t wanted = o.jobs > 0 ? static_cast<std::size_t>(o.jobs) : kNetworkJobs;
    const FileRoom room = MakeRoomForLines(wanted);
    if (room.lines < wanted)
        TheConsole().Err("morvane-cli: the limit on open files (" + std::to_string(room.limit) +
                         ") lets the command hold " + std::to_string(room.lines) +
                         " connections open at once: the scan runs " + std::to_string(room.lines) + " at a time");

    Ledger ledger([&](const Record& r) { TheConsole().Out(FormatRecord(r, o.json)); });
    std::atomic<std::uint64_t> printers{0}, others{0}, unreached{0};
    const LineOpener open = [&](const PortName& p, int, std::string* error) {
        return OpenTcpLine(p, run.connectTimeout, error, run.stop);
    };
    stop.BeginRun(ledger);
    RunSocketJobs(static_cast<std::size_t>(range->count), room.lines, [&](std::size_t i) {
        if (run.stop != nullptr && run.stop->load()) return;
        const NetworkFind find = IdentifyPrinter(portAt(i), run, open, SystemClock());
        if (!find.connected) {
            ++unreached;
        } else if (!find.printer) {
            ++others;
        } else {
            ++printers;
            JobSink& sink = ledger.Add({find.address, find.name});
            sink.Done(0, find.address);
            sink.Done(1, find.name);
        }
    });
    stop.EndRun();

    const std::uint64_t tried = printers + others + unreached;
    const std::string network = range->text.substr(0, range->text.find(':'));
    TheConsole().Err("scan: " + Plural(tried, "address", "addresses") + " of " + network + ", port " +
                     std::to_string(range->port) + ": " + Plural(printers, "printer", "printers") + "; " +
                     std::to_string(others) + " took the connection but gave no printer's answer; " +
                     std::to_string(unreached) + " took no connection" +
                     (tried < range->count ? "; " + std::to_string(range->count - tried) + " not tried" : ""));
    for (const std::string& line : FormatSummary(printers, ledger.Counts(), {})) TheConsole().Err(line);
    if (TheConsole().Failed()) return kExitOutputFailed;
    if (stop.SignalStatus() != 0) return stop.SignalStatus();
    if (printers == 0) return kExitFailed;
    return ExitStatusOf(ledger.Counts());
}

}  // namespace morvane::cli
