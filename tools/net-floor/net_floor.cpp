// The floor under morvane-cli's network runner, for scripts/bench.sh: one
// thread and epoll, every printer connected at once, each sent the frames
// one after another with one read of its 4-byte answer per frame, and
// nothing else: no records, no time-outs, no checks of what came back.
//   net-floor FRAMES_FILE tcp://HOST:PORT[,tcp://HOST:PORT...]
// FRAMES_FILE holds one frame a line in hex ("1D 46 7C 03"). Exits 0 when
// every printer took every frame and answered it; 1 otherwise.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Printer {
    int fd = -1;
    std::size_t frame = 0;  // the one on the wire
    std::size_t got = 0;    // of its answer
    bool connected = false;
};

std::vector<Bytes> ReadFrames(const char* path) {
    std::vector<Bytes> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream hex(line);
        Bytes frame;
        for (unsigned byte = 0; hex >> std::hex >> byte;) frame.push_back(static_cast<std::uint8_t>(byte));
        if (!frame.empty()) frames.push_back(frame);
    }
    return frames;
}

bool ParseAddress(const std::string& url, sockaddr_in* to) {
    const std::string prefix = "tcp://";
    if (url.compare(0, prefix.size(), prefix) != 0) return false;
    const std::size_t colon = url.rfind(':');
    if (colon == std::string::npos || colon < prefix.size()) return false;
    *to = sockaddr_in{};
    to->sin_family = AF_INET;
    to->sin_port = htons(static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1))));
    return inet_pton(AF_INET, url.substr(prefix.size(), colon - prefix.size()).c_str(), &to->sin_addr) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: net-floor FRAMES_FILE tcp://HOST:PORT[,...]\n");
        return 2;
    }
    const std::vector<Bytes> frames = ReadFrames(argv[1]);
    std::vector<sockaddr_in> addresses;
    std::stringstream list(argv[2]);
    for (std::string url; std::getline(list, url, ',');) {
        sockaddr_in a{};
        if (!ParseAddress(url, &a)) {
            std::fprintf(stderr, "net-floor: not an IPv4 tcp:// address: %s\n", url.c_str());
            return 2;
        }
        addresses.push_back(a);
    }
    if (frames.empty() || addresses.empty()) return 2;

    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Printer> printers(addresses.size());
    for (std::size_t i = 0; i < printers.size(); ++i) {
        Printer& p = printers[i];
        p.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(p.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connect(p.fd, reinterpret_cast<const sockaddr*>(&addresses[i]), sizeof addresses[i]);
        epoll_event e{};
        e.events = EPOLLOUT;
        e.data.u64 = i;
        epoll_ctl(ep, EPOLL_CTL_ADD, p.fd, &e);
    }
    std::size_t left = printers.size();
    std::vector<epoll_event> ready(256);
    while (left > 0) {
        const int n = epoll_wait(ep, ready.data(), static_cast<int>(ready.size()), 5000);
        if (n <= 0) break;  // five seconds of nothing: a printer is gone
        for (int k = 0; k < n; ++k) {
            Printer& p = printers[ready[static_cast<std::size_t>(k)].data.u64];
            if (!p.connected) {
                p.connected = true;
                if (send(p.fd, frames[0].data(), frames[0].size(), MSG_NOSIGNAL) < 0) return 1;
                epoll_event e{};
                e.events = EPOLLIN;
                e.data.u64 = ready[static_cast<std::size_t>(k)].data.u64;
                epoll_ctl(ep, EPOLL_CTL_MOD, p.fd, &e);
                continue;
            }
            std::uint8_t answer[4];
            const ssize_t got = recv(p.fd, answer, sizeof answer - p.got, 0);
            if (got <= 0) return 1;
            p.got += static_cast<std::size_t>(got);
            if (p.got < sizeof answer) continue;
            p.got = 0;
            if (++p.frame == frames.size()) {
                close(p.fd);
                --left;
                continue;
            }
            if (send(p.fd, frames[p.frame].data(), frames[p.frame].size(), MSG_NOSIGNAL) < 0) return 1;
        }
    }
    close(ep);
    return left == 0 ? 0 : 1;
}
