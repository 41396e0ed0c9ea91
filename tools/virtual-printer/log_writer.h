// The printer's log, written by a thread of its own: a reader that stops
// draining the stream (a full pipe on standard error) delays the log, never
// the printer. Lines wait in a bounded queue; when it overflows the oldest
// go, and the log says how many.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace vprinter {

class LogWriter {
public:
    static constexpr std::size_t kMaxWaitingLines = 10000;
    // Waits this long at destruction for the last lines to be written; a
    // stream still stalled then is left to its thread.
    static constexpr int kCloseWaitMs = 2000;

    explicit LogWriter(std::ostream* out);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void Write(std::string line);  // never waits for the stream
    // True once every line written so far is on the stream; false after
    // timeoutMs.
    bool Flush(int timeoutMs);

private:
    struct State {
        std::mutex mu;
        std::condition_variable cv;
        std::ostream* out = nullptr;
        std::deque<std::string> lines;
        std::size_t dropped = 0;
        bool writing = false;  // a batch is on its way to the stream
        bool stop = false;
        bool finished = false;
    };
    static void Run(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;  // shared with a thread that may outlive us
    std::thread thread_;
};

}  // namespace vprinter
