#include "cli/station/station_board.h"

#include <mutex>  // std::lock_guard
#include <nlohmann/json.hpp>

#include "cli/system/platform.h"
#include "cli/text/utc_time.h"

namespace morvane::cli {

namespace {

constexpr std::size_t kLastJobs = 10;
constexpr unsigned kLookMs = 20;  // how often a waiting screen looks again: well inside its 300 ms

const char* StateName(int state) {
    static const char* const names[] = {"empty", "waiting", "working", "pass", "fail", "busy", "not-configured"};
    return names[state];
}

}  // namespace

StationBoard::StationBoard(std::vector<std::string> slots) : order_(std::move(slots)), startedAt_(UtcNow()) {
    for (const std::string& s : order_) tiles_[s];
}

StationBoard::Tile& StationBoard::TileOf(const std::string& slot) {
    if (tiles_.count(slot) == 0) order_.push_back(slot);
    return tiles_[slot];
}

void StationBoard::Changed() { ++version_; }

void StationBoard::Waiting(const std::string& slot, const std::string& port) {
    std::lock_guard<Mutex> lock(mu_);
    Tile& t = TileOf(slot);
    t = Tile{};
    t.port = port;
    t.state = State::Waiting;
    Changed();
}

void StationBoard::Busy(const std::string& slot, const std::string& port, const std::string& holder, bool gaveUp) {
    std::lock_guard<Mutex> lock(mu_);
    Tile& t = TileOf(slot);
    t = Tile{};
    t.port = port;
    t.state = gaveUp ? State::NotConfigured : State::Busy;
    t.holder = holder;
    Changed();
}

void StationBoard::Working(const std::string& slot, const std::string& port, long long n, std::size_t key,
                           std::size_t keys) {
    std::lock_guard<Mutex> lock(mu_);
    Tile& t = TileOf(slot);
    t.port = port;
    t.state = State::Working;
    t.n = n;
    t.key = key;
    t.keys = keys;
    Changed();
}

void StationBoard::Finished(const std::string& slot, const std::string& port, long long n, const std::string& address,
                            bool ok, const std::string& failedKey, const std::string& why) {
    std::lock_guard<Mutex> lock(mu_);
    Tile& t = TileOf(slot);
    t = Tile{};
    t.port = port;
    t.state = ok ? State::Pass : State::Fail;
    t.n = n;
    t.address = address;
    t.failedKey = failedKey;
    t.why = why;
    ++done_;
    passed_ += ok ? 1 : 0;
    // A printer's first job decides its first-pass yield.
    firstPass_.emplace(address.empty() ? "job " + std::to_string(n) : address, ok);
    last_.push_front({n, slot, address, failedKey, ok, UtcNow()});
    if (last_.size() > kLastJobs) last_.pop_back();
    Changed();
}

void StationBoard::Gone(const std::string& slot) {
    std::lock_guard<Mutex> lock(mu_);
    const auto found = tiles_.find(slot);
    if (found == tiles_.end()) return;
    found->second = Tile{};
    Changed();
}

std::string StationBoard::Snapshot() const {
    std::lock_guard<Mutex> lock(mu_);
    nlohmann::json slots = nlohmann::json::array();
    for (const std::string& name : order_) {
        const Tile& t = tiles_.at(name);
        nlohmann::json j = {{"slot", name}, {"state", StateName(static_cast<int>(t.state))}, {"port", t.port}};
        if (t.n != 0) j["n"] = t.n;
        if (t.state == State::Working) {
            j["key"] = t.key;
            j["keys"] = t.keys;
        }
        if (!t.address.empty()) j["address"] = t.address;
        if (!t.failedKey.empty()) j["failed_key"] = t.failedKey;
        if (!t.why.empty()) j["why"] = t.why;
        if (!t.holder.empty()) j["holder"] = t.holder;
        slots.push_back(j);
    }
    std::size_t firstPassed = 0;
    for (const auto& [printer, ok] : firstPass_) firstPassed += ok ? 1 : 0;
    const double hours = std::chrono::duration<double>(Clock::now() - started_).count() / 3600.0;
    nlohmann::json last = nlohmann::json::array();
    for (const Job& job : last_) {
        nlohmann::json j = {{"n", job.n}, {"slot", job.slot}, {"ok", job.ok}, {"time", job.time}};
        if (!job.address.empty()) j["address"] = job.address;
        if (!job.failedKey.empty()) j["failed_key"] = job.failedKey;
        last.push_back(j);
    }
    const nlohmann::json shift = {
        {"started", startedAt_},
        {"done", done_},
        {"pass", passed_},
        {"fail", done_ - passed_},
        {"first_pass_yield",
         firstPass_.empty() ? 0.0 : 100.0 * static_cast<double>(firstPassed) / static_cast<double>(firstPass_.size())},
        // Over at least a minute, so that the first job does not read as thousands an hour.
        {"units_per_hour", static_cast<double>(done_) / std::max(hours, 1.0 / 60)},
    };
    return nlohmann::json({{"version", version_.load()}, {"slots", slots}, {"shift", shift}, {"last", last}})
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool StationBoard::WaitForChange(std::uint64_t seen, std::chrono::milliseconds most) const {
    const auto until = Clock::now() + most;
    while (version_.load() <= seen) {
        if (Clock::now() >= until) return false;
        PauseMs(kLookMs);
    }
    return true;
}

}  // namespace morvane::cli
