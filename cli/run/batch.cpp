#include "cli/run/batch.h"

#include <algorithm>
#include <string>

#include "cli/ports/open_files.h"
#include "cli/system/platform.h"

namespace morvane::cli {

namespace {

std::size_t Wanted(std::size_t local, std::size_t network, std::size_t jobs) {
    return jobs > 0 ? std::min(jobs, local + network) : local + std::min(network, kNetworkJobs);
}

}  // namespace

BatchPlan PlanBatch(std::size_t local, std::size_t network, std::size_t jobs, std::size_t room) {
    BatchPlan plan;
    room = std::max<std::size_t>(room, 1);
    const std::size_t wanted = Wanted(local, network, jobs);
    plan.boundByFiles = wanted > room;
    if (jobs > 0) {
        plan.onePool = true;
        plan.localAtOnce = std::min(wanted, room);
        return plan;
    }
    // Network printers give way first: the few local ports keep theirs.
    const std::size_t keepForNetwork = network > 0 && room > 1 ? 1 : 0;
    plan.localAtOnce = std::min(local, room - keepForNetwork);
    plan.networkAtOnce = std::min({network, kNetworkJobs, room - plan.localAtOnce});
    if (network > 0) plan.networkAtOnce = std::max<std::size_t>(plan.networkAtOnce, 1);
    return plan;
}

void RunBatch(const std::vector<PortName>& ports, std::size_t jobs, bool syncs,
              const std::function<void(std::size_t)>& job, std::string* note) {
    // Network jobs share threads, unless their records wait for a journal's
    // sync; those wait on the disk one after another under the journal's
    // lock anyway, so more threads than kSyncedNetworkJobs buy nothing.
    const auto run = [&](bool sockets, std::size_t count, std::size_t atOnce,
                         const std::function<void(std::size_t)>& f) {
        if (!sockets) return RunInParallel(count, atOnce, f);
        if (!syncs) return RunSocketJobs(count, atOnce, f);
        if (atOnce > kSyncedNetworkJobs && count > kSyncedNetworkJobs)
            *note = (note->empty() ? "" : *note + "; ") + "with a journal, network printers are taken " +
                    std::to_string(kSyncedNetworkJobs) + " at a time";
        RunInParallel(count, std::min(atOnce, kSyncedNetworkJobs), f);
    };
    std::vector<std::size_t> local, network;
    for (std::size_t i = 0; i < ports.size(); ++i)
        (ports[i].kind == PortName::Kind::Tcp ? network : local).push_back(i);
    const FileRoom room = MakeRoomForLines(Wanted(local.size(), network.size(), jobs));
    const BatchPlan plan = PlanBatch(local.size(), network.size(), jobs, room.lines);
    if (plan.boundByFiles)
        *note = "the limit on open files (" + std::to_string(room.limit) + ") lets the command hold " +
                std::to_string(room.lines) + " lines open at once: the batch runs " + std::to_string(room.lines) +
                " at a time";
    if (plan.onePool) {
        run(local.empty(), ports.size(), plan.localAtOnce, job);
        return;
    }
    const auto group = [&](const std::vector<std::size_t>& members, std::size_t atOnce) {
        const bool sockets = !members.empty() && ports[members[0]].kind == PortName::Kind::Tcp;
        run(sockets, members.size(), atOnce, [&](std::size_t k) { job(members[k]); });
    };
    if (local.empty() || network.empty()) {
        group(local.empty() ? network : local, local.empty() ? plan.networkAtOnce : plan.localAtOnce);
        return;
    }
    RunInParallel(
        2, 2, [&](std::size_t g) { group(g == 0 ? local : network, g == 0 ? plan.localAtOnce : plan.networkAtOnce); });
}

}  // namespace morvane::cli
