#include "protocol/read_budget.h"

namespace morvane {

int ReadWithBudget(const ReadRequest& request, Pause& pause, std::uint8_t* buf, int wanted) {
    if (wanted <= 0) return -1;
    // One budget for the whole call: a slow reply in pieces does not earn
    // more patience than a silent line.
    int budget = kReadRetryBudget;
    int total = 0;
    while (total < wanted) {
        const int remaining = wanted - total;
        const int got = request(buf + total, remaining);
        if (got > 0) {
            // A device claiming more than was asked for delivered at most that.
            total += got < remaining ? got : remaining;
            continue;
        }
        if (budget == 0) break;
        --budget;
        pause.Sleep(kReadRetryPauseMs);
    }
    return total;
}

}  // namespace morvane
