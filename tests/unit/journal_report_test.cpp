// The shift report over a journal the station's own writer fills: counts,
// first-pass yield, units per hour, failures by key and slot per host, and
// the window --since and --until cut.
#include "cli/journal/journal_report.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "cli/journal/job_record.h"
#include "cli/journal/journal.h"
#include "cli/text/utc_time.h"

namespace {

using namespace morvane::cli;
using Counts = std::map<std::string, long long>;

constexpr const char* kPassword = "Kq-Zv";  // letters no other field holds

struct Job {
    const char *host, *slot, *port, *address, *time;  // slot "": the port stands for it
    Result darkness, beeper;
};

// Two benches: 01 fails, then passes on rework; 03 has no slot; the last
// never said its address.
const Job kShift[] = {
    {"bench-1", "A1", "/dev/ttyUSB0", "00:11:22:33:44:01", "2026-12-09T08:00:00.000Z", Result::Refused,
     Result::NotSent},
    {"bench-1", "A1", "/dev/ttyUSB0", "00:11:22:33:44:01", "2026-12-09T08:20:00.000Z", Result::Ok, Result::Ok},
    {"bench-1", "A2", "/dev/ttyUSB1", "00:11:22:33:44:02", "2026-12-09T08:40:00.000Z", Result::Ok, Result::Ok},
    {"bench-2", "", "/dev/ttyUSB3", "00:11:22:33:44:03", "2026-12-09T09:00:00.000Z", Result::Ok, Result::NoAnswer},
    {"bench-2", "B1", "/dev/ttyUSB4", "00:11:22:33:44:04", "2026-12-09T09:20:00.000Z", Result::Ok, Result::Ok},
    {"bench-2", "B1", "/dev/ttyUSB4", "", "2026-12-09T10:00:00.000Z", Result::Error, Result::NotSent},
};

// The journal's text, each job claimed and written as a station does.
std::string ShiftJournal() {
    const auto path = std::filesystem::temp_directory_path() / ("morvane-report-" + std::to_string(getpid()));
    std::filesystem::remove(path);
    std::string error;
    auto journal = Journal::Open(path.string(), &error);
    EXPECT_TRUE(journal) << error;
    for (const Job& j : kShift) {
        JobFacts facts;
        facts.command = "watch";
        facts.port = j.port;
        EXPECT_TRUE(journal->Claim(1, j.port, &facts.n, &error)) << error;
        // The address is read at the end; "" as when the printer never said it.
        for (const auto& [key, value, result] : {std::tuple{"bt-password", kPassword, Result::Ok},
                                                 {"darkness", "4", j.darkness},
                                                 {"beeper", "on", j.beeper},
                                                 {"bt-address", j.address, Result::Ok}}) {
            Record& one = facts.records.emplace_back();
            std::tie(one.key, one.value, one.result, one.read) =
                std::tuple(key, value, result, std::string_view(key) == "bt-address");
        }
        JournalRecord record = JobRecord(facts);
        record["time"] = j.time;
        record["host"] = j.host;
        if (*j.slot != '\0') record["slot"] = j.slot;
        EXPECT_TRUE(journal->Write(record, &error)) << error;
    }
    std::ifstream in(path);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(path);
    return text;
}

ShiftReport Report(const char* since = "", const char* until = "") {
    ShiftReport report;
    std::chrono::system_clock::time_point when;
    const auto ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    };
    if (ParseUtcTime(since, &when)) report.sinceMs = ms();
    if (ParseUtcTime(until, &when)) report.untilMs = ms();
    static const std::string text = ShiftJournal();
    std::size_t torn = 0;
    std::string error;
    EXPECT_TRUE(ReportOn(text, &report, &torn, &error)) << error;
    return report;
}

TEST(JournalReport, CountsYieldRateAndFailuresPerHost) {
    const ShiftReport r = Report();
    const struct {
        const char* name;
        const ShiftFigures& f;
        long long jobs, ok, printers, firstPass;
        double yield, perHour;
    } cases[] = {
        {"all", r.all, 6, 3, 5, 2, 40.0, 1.5},                      // 01 is one printer, and no first pass
        {"bench-1", r.hosts.at("bench-1"), 3, 2, 2, 1, 50.0, 3.0},  // 2 ok in 40 min
        {"bench-2", r.hosts.at("bench-2"), 3, 1, 3, 1, 100.0 / 3, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::tie(c.f.jobs, c.f.ok, c.f.printers, c.f.firstPass),
                  std::tie(c.jobs, c.ok, c.printers, c.firstPass));
        EXPECT_DOUBLE_EQ(YieldPercent(c.f).value_or(-1), c.yield);
        EXPECT_DOUBLE_EQ(UnitsPerHour(c.f).value_or(-1), c.perHour);
    }
    // Each failed job under the key it failed on first, and its slot or else its port.
    EXPECT_EQ(r.hosts.at("bench-1").failedKeys, (Counts{{"darkness", 1}}));
    EXPECT_EQ(r.hosts.at("bench-1").failedSlots, (Counts{{"A1", 1}}));
    EXPECT_EQ(r.hosts.at("bench-2").failedKeys, (Counts{{"beeper", 1}, {"darkness", 1}}));
    EXPECT_EQ(r.hosts.at("bench-2").failedSlots, (Counts{{"/dev/ttyUSB3", 1}, {"B1", 1}}));
}

TEST(JournalReport, TheWindowTakesJobsFromSinceToBeforeUntil) {
    const struct {
        const char *since, *until;
        long long jobs, ok, printers, firstPass;
    } cases[] = {
        {"", "", 6, 3, 5, 2},
        {"2026-12-09T08:20", "", 5, 3, 4, 2},  // 01's rework: its first job came before
        {"", "2026-12-09T09:00:00.000Z", 3, 2, 2, 1},
        {"2026-12-09T08:40:00Z", "2026-12-09T09", 1, 1, 1, 1},
        {"2026-12-10", "", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.since) + " .. " + c.until);
        const ShiftFigures f = Report(c.since, c.until).all;
        EXPECT_EQ(std::tie(f.jobs, f.ok, f.printers, f.firstPass), std::tie(c.jobs, c.ok, c.printers, c.firstPass));
    }
    EXPECT_FALSE(YieldPercent(Report("2026-12-10").all));
    EXPECT_FALSE(UnitsPerHour(Report("2026-12-09T10").all)) << "one job spans no time";
    std::chrono::system_clock::time_point when;
    for (const char* bad : {"2026-02-29", "2026-12-09T24:00", "2026-12-09T10:15+01:00", "2026-12-09T10:15:02.", "x"})
        EXPECT_FALSE(ParseUtcTime(bad, &when)) << bad;
}

TEST(JournalReport, JsonHasEveryFigureAndNeitherViewAPassword) {
    const ShiftReport r = Report("2026-12-09");
    const nlohmann::ordered_json j = ReportJson(r);
    std::vector<std::string> fields;
    for (const auto& [name, value] : j.items()) fields.push_back(name);
    EXPECT_EQ(fields,
              (std::vector<std::string>{"since", "until", "jobs", "ok", "failed", "printers", "first_pass",
                                        "first_pass_yield", "units_per_hour", "first_job", "last_job", "hosts"}));
    EXPECT_EQ(j["since"], "2026-12-09T00:00:00.000Z");
    EXPECT_TRUE(j["until"].is_null());
    EXPECT_EQ(j["last_job"], "2026-12-09T10:00:00.000Z");
    EXPECT_EQ(j["hosts"][1]["first_pass_yield"], 33.3);
    EXPECT_EQ(j["hosts"][1]["failures_by_key"], (nlohmann::ordered_json{{"beeper", 1}, {"darkness", 1}}));
    const std::string table = ReportTable(r);
    EXPECT_NE(table.find("bench-2     3   1       2    33.3% (1 of 3)         1.0"), std::string::npos) << table;
    EXPECT_EQ((table + j.dump()).find(kPassword), std::string::npos) << table;
}

}  // namespace
