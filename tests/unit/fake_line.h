// A line whose bytes arrive at given times, and a clock that jumps to them:
// the reply reader's waits cost nothing. Shared by the unit tests and the
// reply reader's fuzz target.
#pragma once
#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/run/reply_reader.h"

namespace morvane::cli::fakes {

using std::chrono::milliseconds;

class FakeClock : public Clock {
public:
    TimePoint Now() override { return now; }
    TimePoint now{};
};

// Bytes that arrive at given times after the reply was asked for.
class FakeLine : public Line {
public:
    FakeLine(FakeClock& clock, bool serial) : clock_(clock), serial_(serial), start_(clock.now) {}
    void Arrive(int atMs, std::vector<std::uint8_t> bytes) { script_.push_back({atMs, std::move(bytes)}); }

    bool IsSerial() const override { return serial_; }
    bool SetSpeed(int, std::string*) override { return true; }
    std::size_t DiscardInput(std::vector<std::uint8_t>*) override { return 0; }
    bool Write(const std::uint8_t*, std::size_t, TimePoint, std::string*) override {
        ++writes;
        return true;
    }
    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        if (onRead) onRead();
        while (!script_.empty() && start_ + milliseconds(script_.front().atMs) <= clock_.now) Take();
        // A piece of no bytes is no arrival: wait on for the next.
        while (arrived_.empty()) {
            if (script_.empty() || start_ + milliseconds(script_.front().atMs) > deadline) {
                clock_.now = std::max(clock_.now, deadline);
                return 0;
            }
            clock_.now = start_ + milliseconds(script_.front().atMs);
            Take();
        }
        const std::size_t n = std::min(max, arrived_.size());
        std::copy_n(arrived_.begin(), n, buf);
        arrived_.erase(arrived_.begin(), arrived_.begin() + static_cast<std::ptrdiff_t>(n));
        consumed += n;
        return static_cast<int>(n);
    }
    std::size_t consumed = 0;
    int writes = 0;
    std::function<void()> onRead;  // before each read: a test's hook into the middle of a job

private:
    struct Piece {
        int atMs;
        std::vector<std::uint8_t> bytes;
    };
    void Take() {
        arrived_.insert(arrived_.end(), script_.front().bytes.begin(), script_.front().bytes.end());
        script_.pop_front();
    }
    FakeClock& clock_;
    bool serial_;
    TimePoint start_;
    std::deque<Piece> script_;
    std::deque<std::uint8_t> arrived_;
};

// Lends a test's line to code that takes ownership of the line it opens, so
// the test can still read the line's counters after that code closed it.
class LentLine : public Line {
public:
    explicit LentLine(Line& line) : line_(line) {}
    bool IsSerial() const override { return line_.IsSerial(); }
    bool SetSpeed(int baud, std::string* error) override { return line_.SetSpeed(baud, error); }
    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override { return line_.DiscardInput(kept); }
    bool Write(const std::uint8_t* data, std::size_t size, TimePoint deadline, std::string* error) override {
        return line_.Write(data, size, deadline, error);
    }
    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override { return line_.Read(buf, max, deadline); }
    std::chrono::milliseconds MinimumSettle() const override { return line_.MinimumSettle(); }
    std::string FailureText() const override { return line_.FailureText(); }

private:
    Line& line_;
};

}  // namespace morvane::cli::fakes
