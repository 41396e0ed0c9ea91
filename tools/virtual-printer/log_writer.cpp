#include "log_writer.h"

#include <chrono>
#include <vector>

namespace vprinter {

LogWriter::LogWriter(std::ostream* out) : state_(std::make_shared<State>()) {
    state_->out = out;
    thread_ = std::thread(&LogWriter::Run, state_);
}

LogWriter::~LogWriter() {
    std::unique_lock<std::mutex> lock(state_->mu);
    state_->stop = true;
    state_->cv.notify_all();
    const bool finished =
        state_->cv.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [&] { return state_->finished; });
    lock.unlock();
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();  // stuck in the stream; it holds its own state
    }
}

void LogWriter::Write(std::string line) {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->lines.size() >= kMaxWaitingLines) {
        state_->lines.pop_front();
        ++state_->dropped;
    }
    state_->lines.push_back(std::move(line));
    state_->cv.notify_all();
}

bool LogWriter::Flush(int timeoutMs) {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return state_->lines.empty() && !state_->writing; });
}

void LogWriter::Run(std::shared_ptr<State> state) {
    std::unique_lock<std::mutex> lock(state->mu);
    for (;;) {
        state->cv.wait(lock, [&] { return !state->lines.empty() || state->stop; });
        if (state->lines.empty()) break;  // stopped, all written
        std::vector<std::string> batch(state->lines.begin(), state->lines.end());
        state->lines.clear();
        const std::size_t dropped = state->dropped;
        state->dropped = 0;
        state->writing = true;
        lock.unlock();
        if (dropped != 0) {
            *state->out << "(" << dropped << " log lines dropped: the log was not read in time)\n";
        }
        for (const std::string& line : batch) *state->out << line << '\n';
        state->out->flush();
        lock.lock();
        state->writing = false;
        state->cv.notify_all();
    }
    state->finished = true;
    state->cv.notify_all();
}

}  // namespace vprinter
