// The job runner between frames: once told to stop, no frame leaves, even
// when the stop comes while it waits for the answer an earlier frame with
// the same code still owes.
#include "cli/run/runner.h"

#include <gtest/gtest.h>

#include <atomic>

#include "fake_line.h"

namespace {

using namespace morvane::cli;
using morvane::cli::fakes::FakeClock;
using morvane::cli::fakes::FakeLine;
using morvane::cli::fakes::LentLine;

class Collected : public JobSink {
public:
    void Sending(std::size_t) override {}
    void Done(std::size_t, const Record& r) override { records.push_back(r); }
    std::vector<Record> records;
};

TEST(Runner, AStopWhileAnOwedAnswerIsAwaitedSendsNoFrame) {
    FakeClock clock;
    FakeLine line(clock, true);
    // No answer to the first frame, then noise: the second frame has the
    // same code, and waits for the first one's answer first.
    for (int at = 150; at < 2000; at += 10) line.Arrive(at, {0x00});
    std::atomic<bool> stop{false};
    int reads = 0;
    line.onRead = [&] {
        if (line.writes == 1 && ++reads == 5) stop = true;
    };
    std::vector<Step> steps;
    std::string error;
    for (const char* value : {"4", "5"}) {
        Request request;
        ASSERT_TRUE(PlanSet("darkness", value, "test", &request, &error)) << error;
        Step step;
        ASSERT_TRUE(PrepareStep(request, 1, {"utf-8", 65001}, &step, &error)) << error;
        steps.push_back(step);
    }
    RunOptions options;
    options.timeout = std::chrono::milliseconds(100);
    options.keepGoing = true;
    options.stop = &stop;
    Collected sink;
    PortName port;
    port.text = "/dev/fake";
    RunPrinter(
        port, steps, options, [&](const PortName&, int, std::string*) { return std::make_unique<LentLine>(line); },
        clock, sink);
    EXPECT_EQ(line.writes, 1) << "a frame left after the stop";
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].result, Result::NoAnswer);
    EXPECT_EQ(sink.records[1].result, Result::NotSent);
}

}  // namespace
