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
    std::string codePage;
    std::vector<std::string> keys;         // get
    std::vector<std::string> assignments;  // set
    std::string profile;                   // apply
};

}  // namespace morvane::cli
