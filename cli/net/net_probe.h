// probe --net CIDR[:PORT]: finds the printers of a network without making
// any of them print. Each address gets a connection with a short time-out,
// at most --jobs at once (64 by default), and only the read-address frame
// (1D 46 74); what answers in that frame's own form is a printer, and only
// a printer is then asked its name. Nothing else is ever sent.
#pragma once
#include <chrono>

#include "cli/options.h"
#include "cli/run/runner.h"
#include "cli/run/stop_control.h"

namespace morvane::cli {

// The connect time-out of a scan without --connect-timeout: a printer on
// the network takes a connection within milliseconds, and most addresses
// of a range have nobody behind them.
constexpr std::chrono::milliseconds kScanConnectTimeout{250};

// The exit status, as every command's.
int RunNetProbe(const Options& options, RunOptions run, StopControl& stop);

}  // namespace morvane::cli
