// The printer when the other side will not keep up: a log nobody reads and
// a flood of frames whose answers must wait.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <sstream>
#include <streambuf>

#include "pty_client.h"
#include "virtual_printer.h"

namespace {

using vprinter::Behaviour;
using vprinter::Bytes;
using vprinter::VirtualPrinter;
using vprinter_test::Hex;
using vprinter_test::PtyClient;

// A stream like standard error on a pipe nobody drains: every write waits
// until Release().
class StalledStream : private std::streambuf {
public:
    StalledStream() : stream(this) {}
    void Release() {
        std::lock_guard<std::mutex> lock(mu_);
        released_ = true;
        cv_.notify_all();
    }
    std::ostream stream;

private:
    int_type overflow(int_type c) override {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return released_; });
        return traits_type::not_eof(c);
    }
    std::mutex mu_;
    std::condition_variable cv_;
    bool released_ = false;
};

TEST(Flood, AStalledLogHoldsUpNoCall) {
    StalledStream log;
    VirtualPrinter printer(&log.stream);
    // Before the log had a thread of its own this hung in Start(); the
    // release below then lets it finish, so the test fails instead of hanging.
    auto calls = std::async(std::launch::async, [&] {
        std::string error;
        if (!printer.Start(&error)) return "start: " + error;
        PtyClient client;
        if (!client.Open(printer.SlavePath())) return std::string("cannot open the line");
        client.Write({0x1D, 0x46, 0x7C, 0x02});
        const std::string reply = Hex(client.ReadUpTo(4, 2000));
        return reply + ", darkness " + std::to_string(printer.GetSettings().darkness);
    });
    const bool inTime = calls.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    log.Release();
    EXPECT_TRUE(inTime) << "a call waited for the log";
    EXPECT_EQ(calls.get(), "1D 46 7C 00, darkness 2");
    printer.Stop();
}

TEST(Flood, WaitingAnswersStayBounded) {
    const std::size_t count = VirtualPrinter::kMaxScheduled + 500;
    Bytes burst;
    for (std::size_t i = 0; i < count; ++i) burst.insert(burst.end(), {0x1D, 0x46, 0x79, 0x01});
    for (const Behaviour& behaviour : {Behaviour::Late(60000), Behaviour::Pieces(1, 60000)}) {
        const char* what = vprinter::FaultName(behaviour.fault);
        std::ostringstream log;  // read only after Stop()
        VirtualPrinter printer(&log);
        printer.SetBehaviour(behaviour);
        std::string error;
        ASSERT_TRUE(printer.Start(&error)) << error;
        PtyClient client;
        ASSERT_TRUE(client.Open(printer.SlavePath()));
        ASSERT_TRUE(client.Write(burst));
        ASSERT_TRUE(printer.WaitForFrames(count, 10000)) << what << ": got " << printer.FrameCount();
        EXPECT_LE(printer.ScheduledCount(), VirtualPrinter::kMaxScheduled) << what;
        printer.Stop();
        EXPECT_NE(log.str().find("dropped the"), std::string::npos) << what << ": the log does not say so";
    }
}

}  // namespace
