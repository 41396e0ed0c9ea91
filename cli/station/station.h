// The station: waits for printer ports to appear, and configures each one
// once as it comes: the port taken for the station alone (a port another
// program holds is waited for, bounded, and named), a number claimed in the
// journal, the speed found (with probe), the profile applied, the address
// and name read back, the job's record journaled, and one line printed. A
// port is taken again only after it has gone and come back; ports that
// come together are done side by side.
#pragma once
#include <string>
#include <vector>

#include "cli/journal/journal.h"
#include "cli/run/plan.h"
#include "cli/ports/port_events.h"
#include "cli/run/runner.h"
#include "cli/ports/selector.h"
#include "cli/station/slots.h"
#include "cli/station/station_board.h"
#include "cli/run/stop_control.h"

namespace morvane::cli {

struct StationOptions {
    // The ports to take; empty: every new USB-serial, CDC-ACM, USB printer
    // and Bluetooth port. A plain path is a selector of one.
    std::vector<Selector> selectors;
    std::string profile;  // its path, as given
    std::vector<Request> requests;
    long long start = 1;  // the lowest number to give
    bool probe = false;   // find each printer's speed first
    bool json = false;
    RunOptions run;
    // How long a port another program holds is waited for, tried every 250 ms.
    std::chrono::milliseconds busyWait{30000};
    SlotNames slots;
    StationBoard* board = nullptr;  // the operator's screen, when there is one
};

// Until a stop signal; the jobs in flight then finish within their
// time-outs. The exit status: 130 or 143 after a signal, 4 when a record
// could not be journaled (the station stops at once then).
int RunStation(const StationOptions& options, Journal& journal, StopControl& stop, PortEvents& events);

}  // namespace morvane::cli
