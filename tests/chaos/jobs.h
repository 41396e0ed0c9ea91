// Random jobs for the chaos checker: which command, on which lines, with
// which keys and options, and whether a stop signal comes in the middle.
// A job is drawn from its worker's generator alone, so a seed replays it.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace chaos {

struct Key {
    std::string key;
    std::string value;  // set: what is set; reads: empty
    bool read = false;
    bool text = false;  // bt-name or bt-password
    std::uint8_t code = 0;
};

struct Job {
    std::string command;             // set, apply or get
    std::vector<std::size_t> lines;  // indexes into the worker's lines, in -p order
    std::vector<Key> keys;           // in the order given
    bool verify = false, keepGoing = false, skipSame = false, journal = false;
    int signalAfterMs = -1;  // SIGINT this long after the start; -1: none
};

// The keys each port gets records for, in order: the job's, and the
// journal's two reads.
std::vector<Key> RecordedKeys(const Job& job);

Job DrawJob(std::mt19937_64& rng, std::size_t lines, int timeoutMs);

// The command's arguments, but for the ports and the file names a job needs.
std::vector<std::string> Arguments(const Job& job, const std::vector<std::string>& ports, int timeoutMs,
                                   const std::string& profilePath, const std::string& journalPath);
std::string ProfileText(const Job& job);

}  // namespace chaos
