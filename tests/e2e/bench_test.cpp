// Timings for scripts/bench.sh, one "bench NAME MS" line per sample: the
// dialog's Set over COM and through the port library (click to message
// box), and morvane-cli.exe under Wine, all against the paced printer.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cli_fixture.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

int Runs(int fallback) {
    const char* runs = std::getenv("BENCH_RUNS");
    return runs != nullptr && std::atoi(runs) > 0 ? std::atoi(runs) : fallback;
}

void Report(const char* name, Clock::time_point since) {
    std::printf("bench %s %.1f\n", name, std::chrono::duration<double, std::milli>(Clock::now() - since).count());
    std::fflush(stdout);
}

class Bench : public CliFixture {
protected:
    void Pace(int baud) {
        vprinter::LineOptions line;
        line.pace = true;
        line.baud = baud;
        printer_->SetLineOptions(line);
    }
};

TEST_F(Bench, DialogSetOverCom) {
    Pace(9600);
    Morvane& app = Start();
    app.OpenPort(0);
    app.Select(kDarknessList, 3);
    for (int i = 0; i < Runs(3); ++i) {
        const auto t0 = Clock::now();
        ASSERT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
        Report("dialog-com-9600", t0);
    }
}

TEST_F(Bench, DialogSetThroughThePortLibrary) {
    Pace(9600);
    PrepareFolder(true);
    app_ = std::make_unique<Morvane>(*folder_);
    ASSERT_TRUE(app_->Started());
    app_->Select(kPortList, 255);  // USB1:, after the 255 COM entries
    app_->Select(kDarknessList, 3);
    for (int i = 0; i < Runs(3); ++i) {
        const auto t0 = Clock::now();
        ASSERT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
        Report("dialog-library", t0);
    }
}

TEST_F(Bench, CommandUnderWine) {
    PrepareFolder();
    for (const int baud : {9600, 115200}) {
        Pace(baud);
        const std::string speed = std::to_string(baud);
        const std::string name = "cli-wine-" + speed;
        for (int i = 0; i < Runs(5); ++i) {
            const auto t0 = Clock::now();
            ASSERT_EQ(RunCli({"set", "darkness=4", "-p", "COM1", "-b", speed}).status, 0);
            Report(name.c_str(), t0);
        }
    }
}

}  // namespace
