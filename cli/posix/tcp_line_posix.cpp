// The network line on POSIX: a non-blocking TCP socket, its connect bounded
// by a wait on the socket, and every read and write by the caller's deadline.
#include "cli/net/tcp_line.h"
#include "cli/run/deadline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <ares.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/posix/socket_wait.h"
#include "cli/net/tcp_address.h"
#include "common/socket_address.h"

namespace morvane::cli {

namespace {

// Input waiting before a frame is late answers; a socket that never stops
// talking must not hold the job here.
constexpr int kMaxDrainReads = 64;

std::string ErrnoText(int code) {
    switch (code) {
        case ECONNRESET: return "the connection was reset";
        case EPIPE: return "the printer closed the connection";
        default: return std::strerror(code);
    }
}

class TcpLine : public Line {
public:
    explicit TcpLine(int fd) : fd_(fd) {}
    ~TcpLine() override { close(fd_); }
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    bool IsSerial() const override { return false; }
    bool SetSpeed(int, std::string*) override { return true; }

    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override {
        std::size_t dropped = end_ - at_;
        Keep(kept, held_.data() + at_, end_ - at_);
        at_ = end_ = 0;
        std::uint8_t drain[256];
        for (int i = 0; i < kMaxDrainReads && !failed_; ++i) {
            const ssize_t n = recv(fd_, drain, sizeof drain, MSG_DONTWAIT);
            if (n > 0) {
                dropped += static_cast<std::size_t>(n);
                Keep(kept, drain, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) Fail("the printer closed the connection");
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Fail(ErrnoText(errno));
            break;
        }
        return dropped;
    }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint deadline, std::string* error) override {
        if (failed_) {
            *error = failure_;
            return false;
        }
        std::size_t sent = 0;
        while (sent < size) {
            // No SIGPIPE when the printer has gone: the error says it.
            const ssize_t n = send(fd_, data + sent, size - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                Fail(ErrnoText(errno));
                *error = failure_;
                return false;
            }
            if (WaitForSocket(fd_, POLLOUT, MsUntil(deadline)) == 0) {
                *error = "the printer takes no more bytes";
                return false;
            }
        }
        return true;
    }

    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        if (at_ == end_) {
            if (failed_) return -1;
            // What the printer sends comes in one segment or a few: take it
            // whole, so that a reply read piece by piece costs one wait and
            // one read. Hundreds of printers at once make every call count.
            for (;;) {
                if (WaitForSocket(fd_, POLLIN, MsUntil(deadline)) == 0) return 0;
                const ssize_t n = recv(fd_, held_.data(), held_.size(), MSG_DONTWAIT);
                if (n > 0) {
                    at_ = 0;
                    end_ = static_cast<std::size_t>(n);
                    break;
                }
                if (n == 0) return Fail("the printer closed the connection");
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Fail(ErrnoText(errno));
                if (MsUntil(deadline) == 0) return 0;
            }
        }
        const std::size_t n = std::min(max, end_ - at_);
        std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(at_), n, buf);
        at_ += n;
        return static_cast<int>(n);
    }

    std::string FailureText() const override { return failure_; }

private:
    static void Keep(std::vector<std::uint8_t>* kept, const std::uint8_t* bytes, std::size_t n) {
        if (kept == nullptr || kept->size() >= kKeptDiscard) return;
        kept->insert(kept->end(), bytes, bytes + std::min(n, kKeptDiscard - kept->size()));
    }

    int Fail(std::string why) {
        failed_ = true;
        failure_ = std::move(why);
        return -1;
    }

    int fd_;
    bool failed_ = false;                   // the connection is gone: every later call fails at once
    std::array<std::uint8_t, 512> held_{};  // received, not yet read
    std::size_t at_ = 0, end_ = 0;
    std::string failure_;
};

// How often a lookup or a connect looks at the stop flag.
constexpr int kStopLookMs = 50;

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// One address: connected within the deadline, or -1 with *error.
int Connect(const sockaddr& address, socklen_t size, TimePoint deadline, std::chrono::milliseconds timeout,
            const std::atomic<bool>* stop, std::string* error) {
    const int fd = socket(address.sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int code = 0;
    if (connect(fd, &address, size) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            int ready = 0;
            do {
                if (Stopped(stop)) break;
                ready = WaitForSocket(fd, POLLOUT, std::min(MsUntil(deadline), kStopLookMs));
            } while ((ready == 0 && MsUntil(deadline) > 0) || (ready < 0 && errno == EINTR));
            socklen_t length = sizeof code;
            if (Stopped(stop)) {
                code = ECANCELED;
            } else if (ready == 0) {
                code = ETIMEDOUT;
            } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) {
                code = errno;
            }
        }
    }
    if (code == 0) return fd;
    close(fd);
    if (code == ECONNREFUSED) {
        *error = "connection refused: nothing listens on that port";
    } else if (code == ETIMEDOUT) {
        *error = "no connection within " + std::to_string(timeout.count()) +
                 " ms: the printer is off or unreachable, or the address is wrong";
    } else if (code == ECANCELED) {
        *error = "not connected: the command was told to stop";
    } else {
        *error = std::string("cannot connect: ") + std::strerror(code);
    }
    return -1;
}

// c-ares is set up once for the process.
bool StartResolver() {
    static const bool started = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS;
    return started;
}

// A host name's addresses, looked up by c-ares inside this job's own waits:
// no thread, bounded by the deadline and the stop flag, however slow the
// name server. The addresses in the resolver's order.
struct Lookup {
    bool done = false;
    int status = ARES_ETIMEOUT;
    std::vector<sockaddr_storage> addresses;
    std::vector<socklen_t> sizes;
};

void LookupDone(void* arg, int status, int, ares_addrinfo* result) {
    auto* lookup = static_cast<Lookup*>(arg);
    lookup->done = true;
    lookup->status = status;
    if (status == ARES_SUCCESS && result != nullptr)
        for (const ares_addrinfo_node* n = result->nodes; n != nullptr; n = n->ai_next) {
            if (n->ai_addrlen > sizeof(sockaddr_storage)) continue;
            sockaddr_storage a{};
            std::memcpy(&a, n->ai_addr, n->ai_addrlen);
            lookup->addresses.push_back(a);
            lookup->sizes.push_back(n->ai_addrlen);
        }
    if (result != nullptr) ares_freeaddrinfo(result);
}

// ARES_SUCCESS, or why not; "timed out" when the deadline came first.
int LookUp(const std::string& host, int port, TimePoint deadline, const std::atomic<bool>* stop, Lookup* lookup,
           std::string* why) {
    if (!StartResolver()) {
        *why = "the resolver cannot start";
        return ARES_ENOTINITIALIZED;
    }
    ares_channel channel = nullptr;
    ares_options options{};
    // The resolver's own retries stay inside the caller's bound.
    options.timeout = std::max(1, std::min(MsUntil(deadline), 2000));
    options.tries = 2;
    if (ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES) != ARES_SUCCESS) {
        *why = "the resolver cannot start";
        return ARES_ENOTINITIALIZED;
    }
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = ARES_AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    ares_getaddrinfo(channel, host.c_str(), service.c_str(), &hints, LookupDone, lookup);
    while (!lookup->done) {
        if (Stopped(stop)) {
            *why = "the command was told to stop";
            break;
        }
        const int left = MsUntil(deadline);
        if (left == 0) {
            *why = "the name server did not answer in time";
            break;
        }
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        timeval most{0, std::min(left, kStopLookMs) * 1000};
        timeval tv{};
        ares_timeout(channel, &most, &tv);
        const int wait = static_cast<int>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
        // The first socket is waited on; each is then looked at.
        if (ARES_GETSOCK_READABLE(bits, 0) || ARES_GETSOCK_WRITABLE(bits, 0)) {
            WaitForSocket(sockets[0], ARES_GETSOCK_READABLE(bits, 0) ? POLLIN : POLLOUT, wait);
        } else {
            WaitForSocket(-1, 0, wait);
        }
        bool any = false;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const bool r = ARES_GETSOCK_READABLE(bits, i), w = ARES_GETSOCK_WRITABLE(bits, i);
            if (!r && !w) continue;
            pollfd p{sockets[i], static_cast<short>((r ? POLLIN : 0) | (w ? POLLOUT : 0)), 0};
            if (poll(&p, 1, 0) <= 0) continue;
            any = true;
            ares_process_fd(channel, (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0 ? sockets[i] : ARES_SOCKET_BAD,
                            (p.revents & POLLOUT) != 0 ? sockets[i] : ARES_SOCKET_BAD);
        }
        if (!any) ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // the resolver's own time-outs
    }
    // Cancels a lookup still under way: its callback runs now, with ARES_EDESTRUCTION.
    const bool answered = lookup->done;
    ares_destroy(channel);
    if (!answered) return ARES_ETIMEOUT;
    if (lookup->status != ARES_SUCCESS) *why = ares_strerror(lookup->status);
    return lookup->status;
}

int ConnectTo(const PortName& port, TimePoint deadline, std::chrono::milliseconds timeout,
              const std::atomic<bool>* stop, std::string* error) {
    // An address literal needs no lookup.
    sockaddr_storage storage;
    socklen_t size = 0;
    if (SocketAddressOf(port.host, port.number, &storage, &size))
        return Connect(reinterpret_cast<const sockaddr&>(storage), size, deadline, timeout, stop, error);
    Lookup lookup;
    std::string why;
    if (LookUp(port.host, port.number, deadline, stop, &lookup, &why) != ARES_SUCCESS || lookup.addresses.empty()) {
        *error = Stopped(stop) ? "not connected: the command was told to stop"
                               : "the name " + port.host + " resolves to no address (" +
                                     (why.empty() ? std::string("no address found") : why) + ")";
        return -1;
    }
    // The name's addresses in the resolver's order, under one deadline.
    int fd = -1;
    for (std::size_t i = 0; i < lookup.addresses.size() && fd < 0; ++i) {
        if (i > 0 && SteadyClock::now() >= deadline) break;
        fd = Connect(reinterpret_cast<const sockaddr&>(lookup.addresses[i]), lookup.sizes[i], deadline, timeout, stop,
                     error);
    }
    return fd;
}

}  // namespace

std::unique_ptr<Line> OpenTcpLine(const PortName& port, std::chrono::milliseconds connectTimeout, std::string* error,
                                  const std::atomic<bool>* stop) {
    const int fd = ConnectTo(port, SteadyClock::now() + connectTimeout, connectTimeout, stop, error);
    if (fd < 0) return nullptr;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return std::make_unique<TcpLine>(fd);
}

}  // namespace morvane::cli
