#include "cli/journal/journal_report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli/text/console.h"
#include "cli/journal/journal.h"
#include "cli/journal/journal_skim.h"
#include "cli/journal/journal_view.h"
#include "cli/journal/mapped_file.h"
#include "cli/text/output.h"
#include "cli/system/platform.h"
#include "cli/text/utc_time.h"

namespace morvane::cli {

namespace {

constexpr std::size_t kParts = 2;                    // as many as a small machine has cores
constexpr std::size_t kPartBytes = 4 * 1024 * 1024;  // shorter journals are read in one
// Read a piece at a time, so that few records are held at once.
constexpr std::size_t kPieceBytes = 1024 * 1024;

// What the report needs of one job record.
struct Job {
    std::optional<long long> ms;
    bool ok = false;
    std::string host, printer;
    std::string key, slot;  // of a failed job only
};

long long MsOf(std::chrono::system_clock::time_point when) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

// The key a failed job failed on: its first that is not ok; "-" when
// every key was (the reads at the end failed) or it had none.
std::string FailedKey(const JournalEntry& e) {
    for (const JournalSetting& s : e.settings)
        if (s.result != "ok") return s.key;
    std::vector<std::string_view> settings;
    if (!SkimArray(e.settingsText, &settings)) return "-";
    SkimmedFields fields;
    for (std::string_view one : settings) {
        fields.clear();
        if (!SkimObject(one, &fields)) continue;
        std::string key, result;
        for (const auto& [name, raw] : fields) {
            if (name == "key") SkimmedString(raw, &key);
            if (name == "result") SkimmedString(raw, &result);
        }
        if (result != "ok") return key;
    }
    return "-";
}

// The printer's place on the bench, else its port.
std::string SlotOf(std::string_view line, const JournalEntry& e) {
    std::string slot;
    SkimmedFields fields;
    if (SkimObject(line, &fields)) {
        for (const auto& [name, raw] : fields)
            if (name == "slot") SkimmedString(raw, &slot);
    } else if (const auto record = nlohmann::json::parse(line, nullptr, false); record.is_object()) {
        slot = record.value("slot", "");
    }
    return slot.empty() ? e.port : slot;
}

// One part of the text, a piece at a time; false at a line that is not ours.
bool JobsIn(std::string_view part, std::vector<Job>* jobs, JournalScan* scan, std::string* error) {
    std::vector<JournalEntry> entries;
    for (std::size_t at = 0; at < part.size();) {
        const std::size_t end = part.find('\n', std::min(at + kPieceBytes, part.size()) - 1);
        const std::string_view piece = part.substr(at, end == std::string_view::npos ? part.size() - at : end + 1 - at);
        at += piece.size();
        entries.clear();
        JournalScan one;
        if (!ScanJournal(piece, 1, &one, &entries, error, JournalDetail::Summary)) return false;
        scan->torn += one.torn;
        scan->endsInLine = one.endsInLine;
        for (JournalEntry& e : entries) {
            if (e.type != "job") continue;
            Job job;
            std::chrono::system_clock::time_point when;
            if (ParseUtcTime(e.time, &when)) job.ms = MsOf(when);
            job.ok = e.result == "ok";
            job.printer = PrinterOf(e);
            job.host = std::move(e.host);
            if (!job.ok) {
                job.key = FailedKey(e);
                job.slot = SlotOf(piece.substr(e.offset, e.length), e);
            }
            jobs->push_back(std::move(job));
        }
    }
    return true;
}

// A long journal is read in parts side by side, split where lines end.
bool ReadJobs(std::string_view text, std::vector<std::vector<Job>>* found, std::size_t* torn, std::string* error) {
    const std::size_t parts = text.size() < kPartBytes ? 1 : kParts;
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < text.size() || pieces.empty();) {
        std::size_t end = pieces.size() + 1 == parts ? text.size() : text.find('\n', at + text.size() / parts);
        end = end == std::string_view::npos ? text.size() : std::min(end + 1, text.size());
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    found->resize(pieces.size());
    std::vector<JournalScan> scans(pieces.size());
    std::vector<std::string> errors(pieces.size());
    std::vector<char> ok(pieces.size(), 0);
    RunInParallel(pieces.size(), pieces.size(),
                  [&](std::size_t i) { ok[i] = JobsIn(pieces[i], &(*found)[i], &scans[i], &errors[i]); });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) {
        // Read it all again in one, for the bad line's number.
        JournalScan whole;
        if (ScanJournal(text, 1, &whole, nullptr, error))
            *error = errors[std::find(ok.begin(), ok.end(), 0) - ok.begin()];
        return false;
    }
    *torn = scans.back().endsInLine ? 0 : 1;
    for (const JournalScan& scan : scans) *torn += scan.torn;
    return true;
}

void Count(const Job& job, bool firstOfPrinter, ShiftFigures* f) {
    ++f->jobs;
    f->ok += job.ok ? 1 : 0;
    if (firstOfPrinter) {
        ++f->printers;
        f->firstPass += job.ok ? 1 : 0;
    }
    if (job.ms) {
        f->firstMs = f->firstMs ? std::min(*f->firstMs, *job.ms) : *job.ms;
        f->lastMs = f->lastMs ? std::max(*f->lastMs, *job.ms) : *job.ms;
    }
    if (!job.ok) {
        ++f->failedKeys[job.key];
        ++f->failedSlots[job.slot];
    }
}

double Tenths(double value) { return std::round(value * 10) / 10; }

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string TimeOf(long long ms) {
    return UtcTimestamp(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::milliseconds(ms))));
}

nlohmann::ordered_json TimeOrNull(const std::optional<long long>& ms) {
    return ms ? nlohmann::ordered_json(TimeOf(*ms)) : nlohmann::ordered_json();
}

nlohmann::ordered_json NumberOrNull(const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(Tenths(*value)) : nlohmann::ordered_json();
}

// The most failures first, then by name.
std::vector<std::pair<std::string, long long>> MostFirst(const std::map<std::string, long long>& counts) {
    std::vector<std::pair<std::string, long long>> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    return sorted;
}

nlohmann::ordered_json FiguresJson(const ShiftFigures& f) {
    return {{"jobs", f.jobs},
            {"ok", f.ok},
            {"failed", f.jobs - f.ok},
            {"printers", f.printers},
            {"first_pass", f.firstPass},
            {"first_pass_yield", NumberOrNull(YieldPercent(f))},
            {"units_per_hour", NumberOrNull(UnitsPerHour(f))},
            {"first_job", TimeOrNull(f.firstMs)},
            {"last_job", TimeOrNull(f.lastMs)}};
}

// Columns padded to their widest cell: the first to the left, the rest,
// numbers, to the right.
std::string Table(const std::vector<std::vector<std::string>>& rows, const std::string& indent) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string out;
    for (const auto& row : rows) {
        out += indent;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            out += i == 0 ? row[i] + pad : "  " + pad + row[i];
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
    }
    return out;
}

std::vector<std::string> FiguresRow(const std::string& name, const ShiftFigures& f) {
    const auto yield = YieldPercent(f);
    const auto rate = UnitsPerHour(f);
    return {
        name,
        std::to_string(f.jobs),
        std::to_string(f.ok),
        std::to_string(f.jobs - f.ok),
        yield ? Fixed(*yield) + "% (" + std::to_string(f.firstPass) + " of " + std::to_string(f.printers) + ")" : "-",
        rate ? Fixed(*rate) : "-"};
}

std::string HostShown(const std::string& host) { return host.empty() ? "-" : EscapeControls(host); }

std::string FailuresTable(const std::string& title, const std::map<std::string, long long>& counts) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& [name, n] : MostFirst(counts)) rows.push_back({EscapeControls(name), std::to_string(n)});
    return title + "\n" + Table(rows, "  ");
}

}  // namespace

bool ReportOn(std::string_view text, ShiftReport* report, std::size_t* torn, std::string* error) {
    std::vector<std::vector<Job>> parts;  // in the journal's order
    if (!ReadJobs(text, &parts, torn, error)) return false;
    const auto inWindow = [&](const Job& job) {
        if (report->sinceMs && !(job.ms && *job.ms >= *report->sinceMs)) return false;
        return !report->untilMs || (job.ms && *job.ms < *report->untilMs);
    };
    // A printer's first job is its first in the journal, in the window or
    // before it: one reworked after an earlier shift is no first pass.
    std::unordered_map<std::string_view, char> seen;
    seen.reserve(parts.front().size() * parts.size());
    for (const std::vector<Job>& jobs : parts)
        for (const Job& job : jobs) {
            const bool first = seen.emplace(job.printer, 0).second;
            if (!inWindow(job)) continue;
            Count(job, first, &report->all);
            Count(job, first, &report->hosts[job.host]);
        }
    return true;
}

std::optional<double> YieldPercent(const ShiftFigures& f) {
    if (f.printers == 0) return std::nullopt;
    return 100.0 * static_cast<double>(f.firstPass) / static_cast<double>(f.printers);
}

std::optional<double> UnitsPerHour(const ShiftFigures& f) {
    if (!f.firstMs || *f.lastMs <= *f.firstMs) return std::nullopt;
    return static_cast<double>(f.ok) * 3600000.0 / static_cast<double>(*f.lastMs - *f.firstMs);
}

nlohmann::ordered_json ReportJson(const ShiftReport& report) {
    nlohmann::ordered_json j = {{"since", TimeOrNull(report.sinceMs)}, {"until", TimeOrNull(report.untilMs)}};
    j.update(FiguresJson(report.all));
    nlohmann::ordered_json hosts = nlohmann::ordered_json::array();
    for (const auto& [host, f] : report.hosts) {
        nlohmann::ordered_json one = {{"host", host}};
        one.update(FiguresJson(f));
        for (const auto& [name, counts] :
             {std::pair{"failures_by_key", &f.failedKeys}, std::pair{"failures_by_slot", &f.failedSlots}}) {
            nlohmann::ordered_json byName = nlohmann::ordered_json::object();
            for (const auto& [what, n] : MostFirst(*counts)) byName[what] = n;
            one[name] = byName;
        }
        hosts.push_back(one);
    }
    j["hosts"] = hosts;
    return j;
}

std::string ReportTable(const ShiftReport& report) {
    std::string out;
    if (report.sinceMs || report.untilMs)
        out += "window:" + (report.sinceMs ? " since " + TimeOf(*report.sinceMs) : "") +
               (report.untilMs ? " until " + TimeOf(*report.untilMs) : "") + "\n";
    if (report.all.firstMs)
        out += "jobs from " + TimeOf(*report.all.firstMs) + " to " + TimeOf(*report.all.lastMs) + "\n";
    std::vector<std::vector<std::string>> rows = {{"host", "jobs", "ok", "failed", "first-pass yield", "units/hour"}};
    for (const auto& [host, f] : report.hosts) rows.push_back(FiguresRow(HostShown(host), f));
    if (report.hosts.size() != 1) rows.push_back(FiguresRow("all", report.all));
    out += Table(rows, "");
    for (const auto& [host, f] : report.hosts) {
        if (f.failedKeys.empty()) continue;
        out += '\n';
        out += FailuresTable(HostShown(host) + ": failures by key", f.failedKeys);
        out += FailuresTable(HostShown(host) + ": failures by slot", f.failedSlots);
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

int ShowJournalReport(const std::string& path, const ReportQuery& q) {
    ShiftReport report;
    for (const auto& [option, text, bound] :
         {std::tuple{"--since", &q.since, &report.sinceMs}, std::tuple{"--until", &q.until, &report.untilMs}}) {
        if (text->empty()) continue;
        std::chrono::system_clock::time_point when;
        if (!ParseUtcTime(*text, &when)) {
            TheConsole().Err(
                std::string("morvane-cli: ") + option + " \"" + EscapeControls(*text) +
                "\" is not a UTC time such as 2026-12-09T10:15:02.123Z, 2026-12-09T10:15, 2026-12-09T10 or 2026-12-09");
            return kExitUsage;
        }
        *bound = MsOf(when);
    }
    std::string error;
    const std::unique_ptr<MappedFile> file = MappedFile::Open(path, &error);
    if (!file) {
        TheConsole().Err("morvane-cli: " + error);
        return kExitUsage;
    }
    std::size_t torn = 0;
    if (!ReportOn(file->Bytes(), &report, &torn, &error)) {
        TheConsole().Err("morvane-cli: " + path + ": " + error + "; not a journal of morvane-cli");
        return kExitUsage;
    }
    if (torn > 0)
        TheConsole().Err("morvane-cli: " + path + ": skipped " + std::to_string(torn) + " line" +
                         (torn == 1 ? "" : "s") + " cut short (a crash or a power cut while it was written)");
    TheConsole().Out(q.json ? ReportJson(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                            : ReportTable(report));
    return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
}

}  // namespace morvane::cli
