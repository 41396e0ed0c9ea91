// A line lent to code that takes ownership of the line it opens (the job
// runner, the probe): the lender keeps it, and with it the port, between
// them.
#pragma once
#include "cli/run/line.h"

namespace morvane::cli {

class BorrowedLine : public Line {
public:
    explicit BorrowedLine(Line& line) : line_(line) {}
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

}  // namespace morvane::cli
