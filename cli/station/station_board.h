// What the operator's screen shows of a station: a tile per slot (waiting,
// working on key k of m, PASS with the number and the Bluetooth address,
// FAIL with the key and why, or a port another program holds) and the
// shift's counts and last jobs. The station tells it as jobs go; the screen
// reads it whole and waits for it to change. It never holds a pairing
// password: what it is told is masked already.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "cli/system/mutex.h"

namespace morvane::cli {

class StationBoard {
public:
    using Clock = std::chrono::steady_clock;
    // The slots named in advance (--slots): their tiles show from the start.
    explicit StationBoard(std::vector<std::string> slots = {});

    void Waiting(const std::string& slot, const std::string& port);  // a port appeared
    void Busy(const std::string& slot, const std::string& port, const std::string& holder, bool gaveUp);
    void Working(const std::string& slot, const std::string& port, long long n, std::size_t key, std::size_t keys);
    // A job's end, once its record is on disk: ok, or the first key that
    // failed and why.
    void Finished(const std::string& slot, const std::string& port, long long n, const std::string& address, bool ok,
                  const std::string& failedKey, const std::string& why);
    // The printer was unplugged: the tile waits for the next one.
    void Gone(const std::string& slot);

    // Everything, as the screen takes it (JSON), and how often it changed.
    std::string Snapshot() const;
    std::uint64_t Version() const { return version_.load(); }
    // True once Version() is past `seen`; false after `most`.
    bool WaitForChange(std::uint64_t seen, std::chrono::milliseconds most) const;

private:
    enum class State { Empty, Waiting, Working, Pass, Fail, Busy, NotConfigured };
    struct Tile {
        std::string port;
        State state = State::Empty;
        long long n = 0;
        std::size_t key = 0, keys = 0;
        std::string address, failedKey, why, holder;
    };
    struct Job {
        long long n = 0;
        std::string slot, address, failedKey;
        bool ok = false;
        std::string time;
    };
    Tile& TileOf(const std::string& slot);  // with mu_ held
    void Changed();                         // with mu_ held

    mutable Mutex mu_;
    std::vector<std::string> order_;  // the tiles, as they came (named ones first)
    std::map<std::string, Tile> tiles_;
    std::deque<Job> last_;
    std::map<std::string, bool> firstPass_;  // a printer (by address, else its number): its first job ok
    std::size_t done_ = 0, passed_ = 0;
    Clock::time_point started_ = Clock::now();
    std::string startedAt_;
    std::atomic<std::uint64_t> version_{0};
};

}  // namespace morvane::cli
