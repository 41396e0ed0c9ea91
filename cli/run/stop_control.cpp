#include "cli/run/stop_control.h"

#include "cli/run/line.h"
#include "cli/system/platform.h"

namespace morvane::cli {

void StopControl::OnSignal(int status, bool atOnce) {
    std::unique_lock<Mutex> lock(mu_);
    if (finished_) return;
    int expected = 0;
    status_.compare_exchange_strong(expected, status);
    ++signals_;
    if (!atOnce && signals_ == 1 && watching_) return;  // no new printers; the jobs finish
    stop_ = true;
    // The run ends itself, in order; a command still starting gives its
    // keys their records once it knows them.
    if (!atOnce && signals_ == 1 && (ledger_ != nullptr || starting_)) return;
    if (ledger_ != nullptr) ledger_->Close("the command was interrupted");
    for (const auto& [id, finish] : finishers_) finish();
    RestoreOpenLines();
    RestoreConsole();
    EndNow(status_);
}

int StopControl::AddFinisher(std::function<void()> finish) {
    std::lock_guard<Mutex> lock(mu_);
    finishers_[++nextFinisher_] = std::move(finish);
    return nextFinisher_;
}

void StopControl::RemoveFinisher(int id) {
    std::lock_guard<Mutex> lock(mu_);
    finishers_.erase(id);
}

void StopControl::BeginRun(Ledger& ledger) {
    std::lock_guard<Mutex> lock(mu_);
    ledger_ = &ledger;
}

void StopControl::BeginWatch() {
    std::lock_guard<Mutex> lock(mu_);
    watching_ = true;
}

void StopControl::EndWatch() {
    std::lock_guard<Mutex> lock(mu_);
    watching_ = false;
}

void StopControl::EndRun() {
    std::lock_guard<Mutex> lock(mu_);
    ledger_ = nullptr;
    starting_ = false;
}

void StopControl::Finish() {
    std::lock_guard<Mutex> lock(mu_);
    finished_ = true;
}

int StopControl::Started() {
    std::lock_guard<Mutex> lock(mu_);
    starting_ = false;
    return status_;
}

}  // namespace morvane::cli
