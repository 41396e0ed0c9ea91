#include "cli/run/ledger.h"

#include "cli/system/platform.h"

namespace morvane::cli {

namespace {
constexpr unsigned kCloseTryMs = 5;
constexpr unsigned kCloseWaitMs = 500;
}  // namespace

class Ledger::PrinterSink : public JobSink {
public:
    PrinterSink(Ledger& ledger, std::vector<Record> keys)
        : ledger_(ledger), keys_(std::move(keys)), state_(keys_.size(), State::Waiting) {}

    void Sending(std::size_t step) override {
        std::lock_guard<Mutex> lock(ledger_.mu_);
        if (step < state_.size() && state_[step] == State::Waiting) state_[step] = State::OnTheWire;
    }

    void Done(std::size_t step, const Record& record) override {
        std::lock_guard<Mutex> lock(ledger_.mu_);
        if (ledger_.closed_ || step >= state_.size() || state_[step] == State::Written) return;
        state_[step] = State::Written;
        ledger_.Write(record);
    }

    // With the ledger's lock held.
    void WriteMissing(const std::string& why) {
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (state_[i] == State::Written) continue;
            const Record r = CutShort(keys_[i], state_[i] == State::OnTheWire, why);
            state_[i] = State::Written;
            ledger_.Write(r);
        }
    }

private:
    enum class State { Waiting, OnTheWire, Written };
    Ledger& ledger_;
    std::vector<Record> keys_;
    std::vector<State> state_;
};

Ledger::Ledger(Writer writer) : writer_(std::move(writer)) {}

Ledger::~Ledger() = default;

JobSink& Ledger::Add(std::vector<Record> keys) {
    std::lock_guard<Mutex> lock(mu_);
    printers_.push_back(std::make_unique<PrinterSink>(*this, std::move(keys)));
    return *printers_.back();
}

void Ledger::Close(const std::string& why) {
    // A job may hold the lock in a write that standard output does not take
    // (a stalled pipe): the command ends anyway.
    for (unsigned waited = 0; !mu_.try_lock(); waited += kCloseTryMs) {
        if (waited >= kCloseWaitMs) return;
        PauseMs(kCloseTryMs);
    }
    std::lock_guard<Mutex> lock(mu_, std::adopt_lock);
    if (closed_) return;
    for (const auto& printer : printers_) printer->WriteMissing(why);
    closed_ = true;
}

std::array<std::size_t, Ledger::kResults> Ledger::Counts() const {
    std::lock_guard<Mutex> lock(mu_);
    return counts_;
}

void Ledger::Write(const Record& record) {
    const auto index = static_cast<std::size_t>(record.result);
    if (index < kResults) ++counts_[index];
    writer_(record);
}

}  // namespace morvane::cli
