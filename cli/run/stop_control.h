// What a stop signal does to a run. The first one stops it: no new frame
// leaves, the one on the wire is waited for within its time-out, and every
// key left gets its record. A station stops taking new printers instead,
// and lets the jobs in flight finish. A second one (or the first while
// nothing runs) ends the command at once: the records still missing are
// written and the lines put back as they were found before the process ends.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <mutex>  // std::lock_guard

#include "cli/system/mutex.h"
#include "cli/run/ledger.h"

namespace morvane::cli {

class StopControl {
public:
    // From the signal thread; may end the process. `atOnce`: the system
    // ends the process as soon as this returns (a closing console).
    void OnSignal(int status, bool atOnce = false);
    // Not a signal: a result that cannot be written stops the run the same way.
    void RequestStop() { stop_ = true; }

    void BeginRun(Ledger& ledger);
    void EndRun();
    // For a command with no keys: from now on a signal ends it at once.
    // The status a signal that came while it started asks for (0: none).
    int Started();
    // The command has done its work and is leaving: a signal from now on
    // changes nothing (the process is not to be ended twice at once).
    void Finish();
    void BeginWatch();
    void EndWatch();

    // What ending at once must still do before the lines are put back: the
    // journal entry of a job cut short. The number takes it off again.
    int AddFinisher(std::function<void()> finish);
    void RemoveFinisher(int id);

    const std::atomic<bool>& Flag() const { return stop_; }
    // The status a signal asked for (130, 143); 0 without one.
    int SignalStatus() const { return status_; }

private:
    Mutex mu_;
    Ledger* ledger_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> status_{0};
    int signals_ = 0;
    bool finished_ = false;
    bool watching_ = false;
    bool starting_ = true;  // the command does not know its keys yet
    std::map<int, std::function<void()>> finishers_;
    int nextFinisher_ = 0;
};

}  // namespace morvane::cli
