// `journal FILE --report`: what a shift did, as a line lead asks at its end:
// the jobs, ok and failed; the first-pass yield; units per hour; and which
// key and which slot fail, per host.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morvane::cli {

struct ReportQuery {
    std::string since, until;  // UTC times (ParseUtcTime's forms); empty: no bound
    bool json = false;
};

// The figures of one host, or of all of them.
struct ShiftFigures {
    long long jobs = 0, ok = 0;
    // Printers whose first job in the journal falls in the window (on this
    // host), and those of them whose first job was ok.
    long long printers = 0, firstPass = 0;
    std::optional<long long> firstMs, lastMs;  // the jobs' times, ms since 1970
    std::map<std::string, long long> failedKeys, failedSlots;
};

struct ShiftReport {
    std::optional<long long> sinceMs, untilMs;
    ShiftFigures all;
    std::map<std::string, ShiftFigures> hosts;
};

// Counts the jobs of a journal's text in [sinceMs, untilMs). False, with
// the reason, for a text that is no journal; `torn` counts lines cut short.
bool ReportOn(std::string_view text, ShiftReport* report, std::size_t* torn, std::string* error);

// Percent of printers, units per hour: none without printers or a span.
std::optional<double> YieldPercent(const ShiftFigures& f);
std::optional<double> UnitsPerHour(const ShiftFigures& f);

nlohmann::ordered_json ReportJson(const ShiftReport& report);
std::string ReportTable(const ShiftReport& report);

// The exit status: 0, 2 for bad times or a file that cannot be read or is
// no journal, 4 when the report cannot be written.
int ShowJournalReport(const std::string& path, const ReportQuery& query);

}  // namespace morvane::cli
