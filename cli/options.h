// What the command line asked for, once its arguments are read.
#pragma once
#include <string>
#include <vector>

namespace morvane::cli {

struct Options {
    std::vector<std::string> ports;
    int baud = 9600;
    int timeoutMs = 1000;
    bool json = false;
    bool dryRun = false;
    bool trace = false;
    bool verify = false;
    bool keepGoing = false;
    bool skipSame = false;     // read bt-name and bt-password first, set them only when they differ
    int connectTimeoutMs = 0;  // network printers; 0: --timeout's (probe --net: 250 ms)
    int jobs = 0;              // printers at once; 0: every local port, 64 network printers
    std::string net;           // probe --net CIDR[:PORT]
    bool force = false;        // probe --net: a range larger than a /16
    std::string codePage;
    std::vector<std::string> keys;         // get
    std::vector<std::string> assignments;  // set
    std::string profile;                   // apply, watch
    std::string journal;                   // set, apply, watch: the journal to add to
    long long start = 0;                   // watch: the lowest number to give; 0: 1
    bool probe = false;                    // watch: find each printer's speed first
    int busyWaitSeconds = 30;              // watch: how long a busy port is waited for
    std::string slotsFile;                 // watch: the slots' names
    std::string http;                      // watch: the operator's screen, [ADDR:]PORT
    std::string udevRule;                  // doctor --udev-rule SELECTOR
    std::string journalFile;               // journal: the one to read
    std::string journalAddress;            // journal --address
    std::string journalPort;               // journal --port
    bool journalAll = false;               // journal --all
    bool csv = false;                      // journal --csv
    bool report = false;                   // journal --report
    std::string since, until;              // journal --report --since, --until
};

}  // namespace morvane::cli
