// Network jobs sharing threads: a job waiting on its socket lets the others
// run, wakes when its socket is ready or its time is up, and the batch keeps
// its bound on how many run at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cli/ports/port_name.h"
#include "cli/posix/socket_wait.h"
#include "cli/run/batch.h"
#include "cli/system/platform.h"

namespace {

using morvane::cli::ParsePortName;
using morvane::cli::PortName;
using morvane::cli::RunBatch;
using morvane::cli::RunSocketJobs;
using morvane::cli::WaitForSocket;
using Clock = std::chrono::steady_clock;

struct SocketPair {
    int ends[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
    ~SocketPair() {
        close(ends[0]);
        close(ends[1]);
    }
};

TEST(SocketJobs, WaitingJobsShareTheThreadsAndKeepTheBound) {
    constexpr std::size_t kJobs = 121, kAtOnce = 40;  // the last one silent
    std::vector<SocketPair> pairs(kJobs);
    std::atomic<int> running{0}, most{0};
    std::vector<int> woke(kJobs, -1);
    const auto start = Clock::now();
    RunSocketJobs(kJobs, kAtOnce, [&](std::size_t i) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {}
        // Odd jobs are answered by the next job's start, even ones never:
        // they must come back at their time-out, the others before it.
        if (i > 0 && i % 2 == 0) {
            EXPECT_EQ(write(pairs[i - 1].ends[1], "x", 1), 1);
        }
        woke[i] = WaitForSocket(pairs[i].ends[0], POLLIN, i % 2 == 1 ? 2000 : 200);
        --running;
    });
    const auto took = Clock::now() - start;
    for (std::size_t i = 0; i < kJobs; ++i) EXPECT_EQ(woke[i], i % 2 == 1 ? 1 : 0) << "job " << i;
    EXPECT_LE(most.load(), static_cast<int>(kAtOnce));
    EXPECT_GT(most.load(), 1);
    // One after another, the silent ones alone would take 60 x 200 ms.
    EXPECT_LT(took, std::chrono::seconds(6));
}

// Sockets closed and opened again get the same numbers, now in another
// job on the same thread; a wait that timed out leaves nothing behind that
// wakes the next holder of its number, or keeps it asleep.
TEST(SocketJobs, ADescriptorsNextHolderWakesOnItsOwnSocket) {
    constexpr std::size_t kJobs = 24;
    std::atomic<int> wrong{0};
    RunSocketJobs(kJobs, kJobs, [&](std::size_t) {
        for (int round = 0; round < 20; ++round) {
            SocketPair pair;
            if (WaitForSocket(pair.ends[0], POLLIN, round % 4) != 0) ++wrong;  // silent: its time-out
            EXPECT_EQ(write(pair.ends[1], "x", 1), 1);
            // Ready before the wait begins: at once, long before 5 s.
            if (WaitForSocket(pair.ends[0], POLLIN, 5000) != 1) ++wrong;
            if (WaitForSocket(pair.ends[1], POLLOUT, 5000) != 1) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

// A job that blocks outside a socket wait (as a journal's sync does) holds
// up the jobs that share its thread. When every record is synced, network
// jobs have a thread each, and the others end while it is still blocked.
TEST(SocketJobs, WithSyncedRecordsABlockedJobHoldsUpNoOther) {
    constexpr std::size_t kJobs = 64;  // more than cores: jobs share threads
    const std::vector<PortName> ports(kJobs, *ParsePortName("tcp://127.0.0.1:9100"));
    for (const bool syncs : {false, true}) {
        // Sharing holds one up only where every thread carries two jobs or more.
        if (!syncs && kJobs / std::max(1u, std::thread::hardware_concurrency()) < 2) continue;
        std::vector<SocketPair> pairs(kJobs);
        std::atomic<std::size_t> ended{0};
        bool othersEnded = false;
        std::string note;
        RunBatch(
            ports, 0, syncs,
            [&](std::size_t i) {
                if (i > 0) {
                    WaitForSocket(pairs[i].ends[0], POLLIN, 5000);
                    ++ended;
                    return;
                }
                WaitForSocket(-1, 0, 100);  // the others start and wait
                for (std::size_t k = 1; k < kJobs; ++k) EXPECT_EQ(write(pairs[k].ends[1], "x", 1), 1);
                const auto until = Clock::now() + std::chrono::seconds(2);
                while (ended < kJobs - 1 && Clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                othersEnded = ended == kJobs - 1;
            },
            &note);
        EXPECT_EQ(othersEnded, syncs) << (syncs ? "synced records" : "no journal");
        EXPECT_EQ(ended.load(), kJobs - 1);
    }
}

// Shared threads or a thread each (network jobs with a journal, or local
// lines): the error reaches the caller, and no process ends in terminate.
TEST(SocketJobs, AJobThatThrowsEndsTheBatchWithItsError) {
    const std::vector<PortName> ports(50, *ParsePortName("tcp://127.0.0.1:9100"));
    for (const bool syncs : {false, true}) {
        std::atomic<int> ran{0};
        std::string note;
        EXPECT_THROW(RunBatch(
                         ports, 8, syncs,
                         [&](std::size_t i) {
                             ++ran;
                             if (i == 3) throw std::runtime_error("job 3 failed");
                         },
                         &note),
                     std::runtime_error)
            << (syncs ? "synced records" : "no journal");
        EXPECT_GE(ran.load(), 1);
    }
}

}  // namespace
