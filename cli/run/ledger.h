// Every key of a run and the record each one gets: written the moment it is
// known and only once, whatever happens after. When the command has to end
// at once (a second Ctrl-C), Close() writes the records still missing.
#pragma once
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>  // std::lock_guard
#include <string>
#include <vector>

#include "cli/system/mutex.h"
#include "cli/run/record.h"
#include "cli/run/runner.h"

namespace morvane::cli {

class Ledger {
public:
    using Writer = std::function<void(const Record&)>;
    explicit Ledger(Writer writer);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // A printer's keys, as records still to be filled in; its records go
    // through the sink returned, which lives as long as the ledger.
    JobSink& Add(std::vector<Record> keys);

    // Writes a record for every key that has none yet: one whose frame is on
    // the wire gets no-answer (the printer may have taken it), the others
    // not-sent. Nothing is written after.
    void Close(const std::string& why);

    // Records written, by result (indexed by Result).
    static constexpr std::size_t kResults = 5;
    std::array<std::size_t, kResults> Counts() const;

private:
    class PrinterSink;
    void Write(const Record& record);  // with mu_ held

    Writer writer_;
    mutable Mutex mu_;
    bool closed_ = false;
    std::array<std::size_t, kResults> counts_{};
    std::vector<std::unique_ptr<PrinterSink>> printers_;
};

}  // namespace morvane::cli
