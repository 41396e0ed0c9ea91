// How many jobs of a batch run at once. By default every serial, USB and
// parallel port at once (there are few, and each waits on its own cable),
// and beside them network printers 64 at a time; --jobs N bounds them all
// together. Either way no more lines are opened at once than the limit on
// open files allows, and the run says so when that limit is what bounds it.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cli/ports/port_name.h"

namespace morvane::cli {

constexpr std::size_t kNetworkJobs = 64;
constexpr std::size_t kSyncedNetworkJobs = 64;  // with a journal: a thread each

struct BatchPlan {
    bool onePool = false;         // --jobs: local and network jobs share one bound
    std::size_t localAtOnce = 0;  // or, with onePool, all jobs
    std::size_t networkAtOnce = 0;
    bool boundByFiles = false;  // fewer at once than asked, for the open-file limit
};

// jobs == 0: the default. `room`: lines that may be open at once.
BatchPlan PlanBatch(std::size_t local, std::size_t network, std::size_t jobs, std::size_t room);

// Runs job(i) for every port under PlanBatch's bounds; *note is set when
// the open-file limit bounds the run. Network jobs share threads, unless
// each record is synced to a journal before its job goes on (`syncs`): a
// sync may take the disk's while, and jobs sharing a thread would wait out
// each other's, past their own time-outs. Then each has a thread.
void RunBatch(const std::vector<PortName>& ports, std::size_t jobs, bool syncs,
              const std::function<void(std::size_t)>& job, std::string* note);

}  // namespace morvane::cli
