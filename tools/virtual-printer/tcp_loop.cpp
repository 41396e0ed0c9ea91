// The one thread that serves every printer of a TcpPrinters: it accepts a
// client where a printer has none, reads frames, schedules their answers
// and writes them as they fall due. Everything here runs with the lock
// held, except the wait in epoll_wait().
#include <sys/epoll.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "tcp_printers.h"
#include "tcp_station.h"

namespace vprinter {

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;  // unread answers kept at most
constexpr std::size_t kLoggedBytes = 64;
constexpr int kMaxEvents = 256;
constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};
const auto kSilence = std::chrono::milliseconds(kSilenceMs);

}  // namespace

void TcpPrinters::Loop() {
    std::unique_lock<std::mutex> lock(mu_);
    epoll_event ready[kMaxEvents];
    for (;;) {
        if (stop_) break;
        const Clock::time_point now = Clock::now();
        // Every printer with something due: answers, or a partial frame's silence.
        while (!wakeups_.empty() && wakeups_.begin()->first <= now) {
            const std::size_t i = wakeups_.begin()->second;
            wakeups_.erase(wakeups_.begin());
            RunDue(i);
        }
        int timeout = -1;
        if (!wakeups_.empty()) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wakeups_.begin()->first - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
        }
        cv_.notify_all();  // WaitForIdle()
        lock.unlock();
        const int n = epoll_wait(epoll_, ready, kMaxEvents, timeout);
        lock.lock();
        for (int k = 0; k < n; ++k) {
            const std::uint64_t tag = ready[k].data.u64;
            if (tag == kWakeTag) {
                std::uint64_t count = 0;
                [[maybe_unused]] ssize_t got = read(wake_, &count, sizeof count);
                continue;
            }
            const std::size_t i = static_cast<std::size_t>(tag >> 1);
            if ((tag & 1) == 0) {
                Accept(i);
            } else if (stations_[i]->clientFd >= 0) {
                if ((ready[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) Receive(i);
                if (stations_[i]->clientFd >= 0 && (ready[k].events & EPOLLOUT) != 0) Flush(i);
            }
        }
    }
    cv_.notify_all();
}

void TcpPrinters::Accept(std::size_t i) {
    Station& s = *stations_[i];
    if (s.clientFd >= 0) return;
    const int fd = accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // gone again before it was taken
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    s.clientFd = fd;
    s.watchingOutput = false;
    ++s.connections;
    peakClients_ = std::max(peakClients_, ++clients_);
    s.reader.DropPartial();
    // One client at a time: the next ones wait in the listen queue.
    epoll_event off{};
    off.data.u64 = i << 1;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, s.listenFd, &off);
    epoll_event in{};
    in.events = EPOLLIN;
    in.data.u64 = i << 1 | 1;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &in);
    Log(s, "client connected");
}

void TcpPrinters::DropClient(std::size_t i, bool reset, const char* why) {
    Station& s = *stations_[i];
    if (s.clientFd < 0) return;
    if (reset) {
        // A zero linger time makes close() send RST: the client sees the
        // connection reset, as when a printer is switched off mid-job.
        const linger hard{1, 0};
        setsockopt(s.clientFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ++s.resets;
    }
    epoll_ctl(epoll_, EPOLL_CTL_DEL, s.clientFd, nullptr);
    close(s.clientFd);
    s.clientFd = -1;
    --clients_;
    s.output.clear();
    // A network module keeps the printer's serial side talking when a
    // client goes: a late answer reaches whoever connects next. A reset
    // (the printer off) drops it.
    if (reset || !s.core.chaos) {
        s.core.events.DropWrites();
        s.core.inMessage = 0;
    }
    if (!s.reader.Partial().empty()) {
        s.discarded += s.reader.Partial().size();
        s.reader.DropPartial();
    }
    epoll_event on{};
    on.events = EPOLLIN;
    on.data.u64 = i << 1;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, s.listenFd, &on);
    Log(s, why);
}

void TcpPrinters::Receive(std::size_t i) {
    Station& s = *stations_[i];
    std::uint8_t buffer[4096];
    const ssize_t got = recv(s.clientFd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got <= 0) {
        DropClient(i, false, got == 0 ? "client closed the connection" : "client connection failed");
        return;
    }
    s.received += static_cast<std::size_t>(got);
    s.lastByte = Clock::now();
    // A line that echoes sends every byte straight back.
    if (options_.echo ||
        (s.core.chaos && (s.core.chaos->Line() == ChaosLine::Echo || s.core.chaos->Line() == ChaosLine::Loopback))) {
        s.output.insert(s.output.end(), buffer, buffer + got);
        Flush(i);
    }
    Bytes skipped;
    Bytes frame;
    for (ssize_t k = 0; k < got; ++k) {
        if (s.reader.Partial().empty()) s.frameStart = s.lastByte;
        if (s.reader.Push(buffer[k], &frame, &skipped)) HandleFrame(i, frame, s.frameStart);
        if (s.clientFd < 0) return;
    }
    if (!skipped.empty()) {
        s.discarded += skipped.size();
        Log(s, "skip " + HexString(skipped, kLoggedBytes));
    }
    if (!s.reader.Partial().empty()) wakeups_.emplace(s.lastByte + kSilence, i);
    const std::size_t dropped = s.core.events.TakeDropped();
    if (dropped > 0) Log(s, "too many answers waiting: dropped the " + std::to_string(dropped) + " oldest");
}

void TcpPrinters::HandleFrame(std::size_t i, const Bytes& frame, Clock::time_point firstByte) {
    Station& s = *stations_[i];
    s.core.TakeFrame(frame, firstByte, options_.pace ? PrinterCore::Wire::InSegments : PrinterCore::Wire::AtOnce,
                     ByteTime(kTcpPaceBaud), [&](const std::string& line) { Log(s, line); });
    RunDue(i);  // what is due at once goes out at once
    cv_.notify_all();
}

void TcpPrinters::RunDue(std::size_t i) {
    Station& s = *stations_[i];
    while (std::optional<Event> due = s.core.events.TakeDue(Clock::now())) {
        switch (due->kind) {
            case Event::kWrite:
                if (!s.core.MayWrite(*due)) {
                    s.core.events.Schedule(Clock::now() + std::chrono::milliseconds(1), std::move(*due));
                    break;
                }
                if (s.clientFd < 0) break;  // nobody to answer
                if (s.output.size() + due->bytes.size() > kMaxOutput) {
                    Log(s, "output full, dropped " + std::to_string(due->bytes.size()) + " bytes");
                    break;
                }
                s.core.Wrote(*due);
                Log(s, "tx " + HexString(due->bytes, kLoggedBytes));
                s.output.insert(s.output.end(), due->bytes.begin(), due->bytes.end());
                break;
            case Event::kHangup: DropClient(i, true, "connection reset (fault)"); break;
            case Event::kSetSpeed:
                s.ownBaud = due->baud;
                Log(s, "speed now " + std::to_string(s.ownBaud) + " baud");
                break;
            case Event::kReopen: break;  // a socket does not come back on a new device
        }
    }
    Flush(i);
    if (!s.core.events.Empty()) wakeups_.emplace(s.core.events.NextDue(), i);
    if (!s.reader.Partial().empty() && Clock::now() - s.lastByte >= kSilence) {
        // Silence in the middle of a frame: the rest is not coming.
        Log(s, "drop partial " + HexString(s.reader.Partial(), kLoggedBytes));
        s.discarded += s.reader.Partial().size();
        s.reader.DropPartial();
    }
}

void TcpPrinters::Flush(std::size_t i) {
    Station& s = *stations_[i];
    while (!s.output.empty() && s.clientFd >= 0) {
        const ssize_t n = send(s.clientFd, s.output.data(), s.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            s.output.erase(s.output.begin(), s.output.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            DropClient(i, false, "client connection failed");
            return;
        }
        break;  // the client's window is full: EPOLLOUT says when
    }
    WatchOutput(i);
}

void TcpPrinters::WatchOutput(std::size_t i) {
    Station& s = *stations_[i];
    if (s.clientFd < 0 || s.watchingOutput == !s.output.empty()) return;
    s.watchingOutput = !s.output.empty();
    epoll_event ev{};
    ev.events = EPOLLIN | (s.watchingOutput ? static_cast<std::uint32_t>(EPOLLOUT) : 0u);
    ev.data.u64 = i << 1 | 1;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, s.clientFd, &ev);
}

}  // namespace vprinter
