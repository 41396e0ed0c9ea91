// Things on the loopback network that are not printers, for the command's
// network tests: a port nothing listens on, a listener whose queue is full
// (a connect there never completes), and a listener that takes connections
// and then says nothing or sends junk, keeping what it was sent.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace clitest {

// A socket bound to address:port (port 0: any); -1 when it cannot be had.
inline int BindTcp(const std::string& address, int port, int* bound) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    *bound = ntohs(a.sin_port);
    return fd;
}

// A port free on every loopback address at once, for printers and
// listeners spread over 127.0.0.x.
inline int FreePortEverywhere() {
    int port = 0;
    const int fd = BindTcp("0.0.0.0", 0, &port);
    if (fd >= 0) close(fd);
    return port;
}

// Bound but not listening: a connect there is refused.
class RefusingPort {
public:
    RefusingPort() : fd_(BindTcp("127.0.0.1", 0, &port_)) {}
    ~RefusingPort() { close(fd_); }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    int port_ = 0;
    int fd_;
};

// A listener that never accepts, its one-place queue taken: the next
// connect gets no answer to its SYN and waits for its time-out.
class FullQueue {
public:
    FullQueue() : fd_(BindTcp("127.0.0.1", 0, &port_)) {
        listen(fd_, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        for (int& c : filler_) {
            c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
    ~FullQueue() {
        for (int c : filler_) close(c);
        close(fd_);
    }
    std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    int port_ = 0;
    int fd_;
    int filler_[2] = {-1, -1};
};

// Takes connections on address:port and keeps what it is sent; with
// `junk`, answers every connection with text no printer sends.
class NotAPrinter {
public:
    NotAPrinter(const std::string& address, int port, std::string junk) : junk_(std::move(junk)) {
        int bound = 0;
        fd_ = BindTcp(address, port, &bound);
        if (fd_ >= 0) listen(fd_, 16);
        thread_ = std::thread([this] { Serve(); });
    }
    ~NotAPrinter() {
        stop_ = true;
        thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    bool Listening() const { return fd_ >= 0; }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mu_);
        return received_;
    }

private:
    void Serve() {
        while (!stop_ && fd_ >= 0) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            if (!junk_.empty()) [[maybe_unused]]
                ssize_t n = send(c, junk_.data(), junk_.size(), MSG_NOSIGNAL);
            // Until the other end goes, bounded.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            char buf[256];
            while (!stop_ && std::chrono::steady_clock::now() < until) {
                pollfd q{c, POLLIN, 0};
                if (poll(&q, 1, 20) <= 0) continue;
                const ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(mu_);
                received_.append(buf, static_cast<std::size_t>(n));
            }
            close(c);
        }
    }

    std::string junk_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mu_;
    std::string received_;
};

}  // namespace clitest
