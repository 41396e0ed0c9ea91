// The worker thread and its line: one pseudo-terminal, polled for bytes
// from the other end, written to as answers fall due, hung up and reopened
// on request or fault. Everything here runs on the worker thread with the
// printer's lock held, except the poll itself.
#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include <poll.h>
#include <unistd.h>

namespace vprinter {

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;  // unread answers kept at most
constexpr int kEioPauseMs = 50;                // no slave open: poll later

}  // namespace

bool VirtualPrinter::OpenLine(std::string* error) {
    if (!line_.Open(error)) return false;
    reader_.DropPartial();
    masterQuietUntil_ = Clock::time_point{};
    Log("open " + line_.SlavePath());
    return true;
}

void VirtualPrinter::DoHangup(const char* why) {
    // A hostile printer's port is gone while it is down, as a USB device's
    // node goes when it is pulled: no one opens a stale name meanwhile.
    if (core_.chaos) RemoveLinks();
    line_.Close();
    ++hangups_;
    output_.clear();
    if (!reader_.Partial().empty()) {
        discarded_ += reader_.Partial().size();
        reader_.DropPartial();
    }
    core_.events.DropWrites();
    core_.inMessage = 0;
    Log(std::string("hangup (") + why + ")");
}

void VirtualPrinter::PointLinks() {
    for (const std::string& link : links_) {
        std::string error;
        if (PointLink(line_.SlavePath(), link, &error)) {
            Log("link " + link + " -> " + line_.SlavePath());
        } else {
            Log(error);
        }
    }
}

void VirtualPrinter::RemoveLinks() {
    for (const std::string& link : links_) {
        if (RemoveLinkTo(link, line_.SlavePath())) Log("unlink " + link);
    }
}

void VirtualPrinter::Wake() {
    if (wakeFds_[1] < 0) return;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = write(wakeFds_[1], &byte, 1);
}

void VirtualPrinter::RunDueEvents() {
    while (std::optional<Event> due = core_.events.TakeDue(Clock::now())) {
        Event& event = *due;
        switch (event.kind) {
            case Event::kWrite:
                if (!core_.MayWrite(event)) {
                    core_.events.Schedule(Clock::now() + std::chrono::milliseconds(1), std::move(event));
                    break;
                }
                if (!line_.IsOpen()) break;  // nobody on the line
                if (output_.size() + event.bytes.size() > kMaxOutput) {
                    Log("output full, dropped " + std::to_string(event.bytes.size()) + " bytes");
                    break;
                }
                core_.Wrote(event);
                Log("tx " + HexString(event.bytes, kMaxLoggedBytes));
                output_.insert(output_.end(), event.bytes.begin(), event.bytes.end());
                break;
            case Event::kHangup:
                if (!line_.IsOpen()) break;
                DoHangup("fault");
                if (event.reopenAfterMs >= 0) {
                    Event reopen;
                    reopen.kind = Event::kReopen;
                    core_.events.Schedule(Clock::now() + std::chrono::milliseconds(event.reopenAfterMs),
                                          std::move(reopen));
                }
                break;
            case Event::kSetSpeed:
                // Only once the status reply is out: it left at the old speed.
                FlushOutput();
                if (!output_.empty() && line_.IsOpen()) {
                    core_.events.Schedule(Clock::now() + std::chrono::milliseconds(1), std::move(event));
                    break;
                }
                ownBaud_ = event.baud;
                Log("speed now " + std::to_string(ownBaud_) + " baud");
                break;
            case Event::kReopen: {
                if (line_.IsOpen()) break;
                std::string error;
                if (OpenLine(&error)) {
                    PointLinks();
                } else {
                    Log("reopen failed: " + error);
                }
                break;
            }
        }
    }
}

void VirtualPrinter::FlushOutput() {
    while (!output_.empty() && line_.IsOpen()) {
        const ssize_t n = write(line_.Master(), output_.data(), output_.size());
        if (n > 0) {
            output_.erase(output_.begin(), output_.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Log(std::string("write: ") + std::strerror(errno) + ", dropped " + std::to_string(output_.size()) +
                " bytes");
            output_.clear();
        }
        break;  // the other end's input is full: poll() says when
    }
}

void VirtualPrinter::Worker() {
    std::unique_lock<std::mutex> lock(mu_);
    std::uint8_t buffer[4096];
    for (;;) {
        while (!requests_.empty()) {
            auto request = std::move(requests_.front());
            requests_.pop_front();
            request();
        }
        if (stop_) break;
        RunDueEvents();
        FlushOutput();

        auto now = Clock::now();
        if (!reader_.Partial().empty() && now - lastByte_ >= std::chrono::milliseconds(kSilenceMs)) {
            // Silence in the middle of a frame: the rest is not coming.
            Log("drop partial " + HexString(reader_.Partial(), kMaxLoggedBytes));
            discarded_ += reader_.Partial().size();
            ++partialsDropped_;
            reader_.DropPartial();
        }

        auto deadline = Clock::time_point::max();
        deadline = std::min(deadline, core_.events.NextDue());
        if (!reader_.Partial().empty())
            deadline = std::min(deadline, lastByte_ + std::chrono::milliseconds(kSilenceMs));
        bool pollMaster = line_.IsOpen();
        if (pollMaster && masterQuietUntil_ > now) {
            pollMaster = false;
            deadline = std::min(deadline, masterQuietUntil_);
        }
        pollfd fds[2] = {};
        fds[0].fd = wakeFds_[0];
        fds[0].events = POLLIN;
        nfds_t count = 1;
        if (pollMaster) {
            fds[1].fd = line_.Master();
            fds[1].events = static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT));
            count = 2;
        }
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
        }
        const int master = line_.Master();  // only this thread changes it
        cv_.notify_all();                   // WaitForIdle() and requests
        lock.unlock();

        const int ready = poll(fds, count, timeout);
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            char drain[64];
            while (read(wakeFds_[0], drain, sizeof drain) > 0) {}
        }
        ssize_t got = 0;
        bool lineDown = false;
        if (ready > 0 && pollMaster && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            got = read(master, buffer, sizeof buffer);
            // EIO: no slave handle open at all. It comes back when one is.
            lineDown = got == 0 || (got < 0 && errno == EIO);
        }

        lock.lock();
        if (got > 0) HandleBytes(buffer, static_cast<std::size_t>(got));
        if (lineDown) masterQuietUntil_ = Clock::now() + std::chrono::milliseconds(kEioPauseMs);
    }
    cv_.notify_all();
}

}  // namespace vprinter
