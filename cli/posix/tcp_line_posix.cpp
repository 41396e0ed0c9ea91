// The network line on POSIX: a non-blocking TCP socket, its connect bounded
// by a wait on the socket, and every read and write by the caller's deadline.
#include "cli/tcp_line.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/posix/socket_wait.h"
#include "cli/tcp_address.h"
#include "libs/common/socket_address.h"

namespace morvane::cli {

namespace {

// Input waiting before a frame is late answers; a socket that never stops
// talking must not hold the job here.
constexpr int kMaxDrainReads = 64;

int MsUntil(TimePoint deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

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

    void DiscardInput() override {
        at_ = end_ = 0;
        std::uint8_t drain[256];
        for (int i = 0; i < kMaxDrainReads && !failed_; ++i) {
            const ssize_t n = recv(fd_, drain, sizeof drain, MSG_DONTWAIT);
            if (n > 0) continue;
            if (n == 0) Fail("the printer closed the connection");
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Fail(ErrnoText(errno));
            break;
        }
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

// One address of the name: connected within the deadline, or -1 with *error.
int Connect(const addrinfo& a, TimePoint deadline, std::chrono::milliseconds timeout, std::string* error) {
    const int fd = socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int code = 0;
    if (connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            int ready = 0;
            do {
                ready = WaitForSocket(fd, POLLOUT, MsUntil(deadline));
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof code;
            if (ready == 0) {
                code = ETIMEDOUT;
            } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0) {
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
    } else {
        *error = std::string("cannot connect: ") + std::strerror(code);
    }
    return -1;
}

// getaddrinfo(3), with a name's lookup (which may wait seconds on a name
// server) on a thread of its own: the jobs that share this thread go on
// meanwhile. Address literals need no lookup and are taken here.
int Resolve(const std::string& host, const std::string& service, const addrinfo& hints, addrinfo** found) {
    addrinfo literal = hints;
    literal.ai_flags |= AI_NUMERICHOST;
    if (getaddrinfo(host.c_str(), service.c_str(), &literal, found) == 0) return 0;
    struct Lookup {
        int status = EAI_SYSTEM;
        int error = 0;
        addrinfo* found = nullptr;
        std::atomic<bool> ready{false};  // the fields above are written
    };
    // One descriptor, so that a lookup stays within the files counted for a line.
    const int done = eventfd(0, EFD_CLOEXEC);
    if (done < 0) return getaddrinfo(host.c_str(), service.c_str(), &hints, found);
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints, done] {
            lookup->status = getaddrinfo(host.c_str(), service.c_str(), &hints, &lookup->found);
            lookup->error = errno;
            lookup->ready.store(true, std::memory_order_release);
            const std::uint64_t one = 1;
            while (write(done, &one, sizeof one) < 0 && errno == EINTR) {}
        }).detach();
    } catch (...) {
        close(done);
        return getaddrinfo(host.c_str(), service.c_str(), &hints, found);
    }
    std::uint64_t count = 0;
    while (WaitForSocket(done, POLLIN, -1) < 0 && errno == EINTR) {}
    while (read(done, &count, sizeof count) < 0 && errno == EINTR) {}
    close(done);
    if (!lookup->ready.load(std::memory_order_acquire))
        return EAI_SYSTEM;  // cannot be: the count is written after the store
    errno = lookup->error;
    *found = lookup->found;
    return lookup->status;
}

int ConnectTo(const PortName& port, TimePoint deadline, std::chrono::milliseconds timeout, std::string* error) {
    // An address literal needs no getaddrinfo(3), which asks for more stack
    // than a job's line needs.
    sockaddr_storage storage;
    addrinfo literal{};
    if (SocketAddressOf(port.host, port.number, &storage, &literal.ai_addrlen)) {
        literal.ai_family = storage.ss_family;
        literal.ai_socktype = SOCK_STREAM;
        literal.ai_protocol = IPPROTO_TCP;
        literal.ai_addr = reinterpret_cast<sockaddr*>(&storage);
        return Connect(literal, deadline, timeout, error);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port.number);
    const int resolved = Resolve(port.host, service, hints, &found);
    if (resolved != 0) {
        *error = "the name " + port.host + " resolves to no address (" +
                 (resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved)) + ")";
        return -1;
    }
    // The name's addresses in the resolver's order, under one deadline.
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        if (a != found && SteadyClock::now() >= deadline) break;
        fd = Connect(*a, deadline, timeout, error);
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

std::unique_ptr<Line> OpenTcpLine(const PortName& port, std::chrono::milliseconds connectTimeout, std::string* error) {
    const int fd = ConnectTo(port, SteadyClock::now() + connectTimeout, connectTimeout, error);
    if (fd < 0) return nullptr;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return std::make_unique<TcpLine>(fd);
}

}  // namespace morvane::cli
