// TcpPrinters' control calls: starting and stopping, and what tests set
// and read. The loop that serves the sockets is in tcp_loop.cpp.
#include "tcp_printers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/socket_address.h"
#include "tcp_station.h"

namespace vprinter {

namespace {

// Clients beyond the one served wait here, as at a printer's socket.
constexpr int kListenQueue = 16;
// Per printer: its listening socket and its client; and a few for the rest.
constexpr rlim_t kFilesPerPrinter = 2;
constexpr rlim_t kFilesReserved = 64;

// Hundreds of printers need more files than a process gets by default.
void RaiseFileLimit(std::size_t printers) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t needed = kFilesReserved + kFilesPerPrinter * printers;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

// A listening socket on address:port, or -1 with *error.
int Listen(const std::string& address, int port, int* bound, std::string* error) {
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (!morvane::SocketAddressOf(address, port, &storage, &size)) {
        *error = "\"" + address + "\" is no IPv4 or IPv6 address";
        return -1;
    }
    const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), size) != 0 || listen(fd, kListenQueue) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &size);
    *bound = ntohs(storage.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                                                : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    return fd;
}

std::string HostPart(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

TcpPrinters::TcpPrinters(std::ostream* log)
    : log_(log != nullptr ? std::make_unique<LogWriter>(log) : nullptr), start_(Clock::now()) {}

TcpPrinters::~TcpPrinters() { Stop(); }

bool TcpPrinters::Start(const std::string& address, int port, std::size_t count, std::string* error) {
    std::string scratch;
    if (error == nullptr) error = &scratch;
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) {
        *error = "already started";
        return false;
    }
    if (count == 0 || (port != 0 && port + static_cast<long>(count) - 1 > 65535)) {
        *error = "no room for " + std::to_string(count) + " printers from port " + std::to_string(port);
        return false;
    }
    RaiseFileLimit(count);
    start_ = Clock::now();
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const auto fail = [&] {
        for (auto& s : stations_)
            if (s->listenFd >= 0) close(s->listenFd);
        stations_.clear();
        if (epoll_ >= 0) close(epoll_);
        if (wake_ >= 0) close(wake_);
        epoll_ = wake_ = -1;
        return false;
    };
    if (epoll_ < 0 || wake_ < 0) {
        *error = std::string("epoll: ") + std::strerror(errno);
        return fail();
    }
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = ~std::uint64_t{0};
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake);
    for (std::size_t k = 0; k < count; ++k) {
        auto s = std::make_unique<Station>();
        s->listenFd = Listen(address, port == 0 ? 0 : port + static_cast<int>(k), &s->port, error);
        if (s->listenFd < 0) return fail();
        s->name = HostPart(address) + ":" + std::to_string(s->port);
        if (count > 1) {
            s->core.settings.name += "-" + std::to_string(k + 1);
            char tail[8];
            std::snprintf(tail, sizeof tail, "%02X:%02X", static_cast<unsigned>(k >> 8 & 0xFF),
                          static_cast<unsigned>(k & 0xFF));
            s->core.settings.address = s->core.settings.address.substr(0, 12) + tail;
        }
        s->ownBaud = options_.baud;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = k << 1;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, s->listenFd, &ev);
        stations_.push_back(std::move(s));
        Log(*stations_.back(), "listening");
    }
    stop_ = false;
    running_ = true;
    clients_ = peakClients_ = 0;
    loop_ = std::thread(&TcpPrinters::Loop, this);
    return true;
}

void TcpPrinters::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_) return;
        stop_ = true;
        Wake();
    }
    loop_.join();
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& s : stations_) {
            if (s->clientFd >= 0) close(s->clientFd);
            close(s->listenFd);
            s->clientFd = s->listenFd = -1;
            Log(*s, "stopped");
        }
        close(epoll_);
        close(wake_);
        epoll_ = wake_ = -1;
        wakeups_.clear();
        running_ = false;
        cv_.notify_all();
    }
    if (log_ != nullptr) log_->Flush(LogWriter::kCloseWaitMs);
}

bool TcpPrinters::IsRunning() const {
    std::lock_guard<std::mutex> lock(mu_);
    return running_;
}

std::size_t TcpPrinters::Count() const {
    std::lock_guard<std::mutex> lock(mu_);
    return stations_.size();
}

TcpPrinters::Station& TcpPrinters::At(std::size_t printer) const {
    if (printer >= stations_.size()) throw std::out_of_range("no printer " + std::to_string(printer));
    return *stations_[printer];
}

int TcpPrinters::Port(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).port;
}

std::string TcpPrinters::Url(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return "tcp://" + At(printer).name;
}

void TcpPrinters::SetLineOptions(const LineOptions& options) {
    std::lock_guard<std::mutex> lock(mu_);
    options_ = options;
    for (auto& s : stations_) s->ownBaud = options.baud;
}

int TcpPrinters::CurrentBaud(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).ownBaud;
}

Settings TcpPrinters::GetSettings(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).core.settings;
}

void TcpPrinters::SetSettings(std::size_t printer, const Settings& settings) {
    std::lock_guard<std::mutex> lock(mu_);
    Settings& s = At(printer).core.settings;
    s = settings;
    s.name = CutText(s.name);
    s.address = CutText(s.address);
    s.password = CutText(s.password);
}

void TcpPrinters::SetName(std::size_t printer, const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.settings.name = CutText(name);
}

void TcpPrinters::SetAddress(std::size_t printer, const std::string& address) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.settings.address = CutText(address);
}

void TcpPrinters::SetPassword(std::size_t printer, const std::string& password) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.settings.password = CutText(password);
}

void TcpPrinters::SetBehaviour(std::size_t printer, const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.runBehaviour = behaviour;
}

void TcpPrinters::QueueBehaviour(std::size_t printer, const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.queued.push_back(behaviour);
}

void TcpPrinters::ClearBehaviours(std::size_t printer) {
    std::lock_guard<std::mutex> lock(mu_);
    At(printer).core.queued.clear();
    At(printer).core.runBehaviour = Behaviour{};
}

std::vector<Bytes> TcpPrinters::Frames(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return {At(printer).core.frames.begin(), At(printer).core.frames.end()};
}

std::vector<Bytes> TcpPrinters::Replies(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return {At(printer).core.replies.begin(), At(printer).core.replies.end()};
}

std::size_t TcpPrinters::FrameCount(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).core.frameCount;
}

std::size_t TcpPrinters::BytesReceived(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).received;
}

std::size_t TcpPrinters::BytesDiscarded(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).discarded;
}

bool TcpPrinters::WaitForFrames(std::size_t printer, std::size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    const Station& s = At(printer);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                        [&] { return s.core.frameCount >= n; });
}

bool TcpPrinters::WaitForIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
        return std::all_of(stations_.begin(), stations_.end(),
                           [](const auto& s) { return s->core.events.Empty() && s->output.empty(); });
    });
}

void TcpPrinters::ClearFrames(std::size_t printer) {
    std::lock_guard<std::mutex> lock(mu_);
    Station& s = At(printer);
    s.core.frames.clear();
    s.core.replies.clear();
    s.core.frameCount = 0;
    s.received = 0;
}

void TcpPrinters::SetChaos(std::size_t printer, std::uint64_t seed, int timeoutMs) {
    std::lock_guard<std::mutex> lock(mu_);
    Station& s = At(printer);
    s.core.chaos = std::make_unique<Chaos>(seed, timeoutMs);
    Log(s,
        std::string("chaos from seed ") + std::to_string(seed) + ", the line " + ChaosLineName(s.core.chaos->Line()));
}

ChaosLine TcpPrinters::GetChaosLine(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    const Station& s = At(printer);
    return s.core.chaos ? s.core.chaos->Line() : ChaosLine::Plain;
}

std::vector<ChaosEntry> TcpPrinters::ChaosSince(std::size_t printer, std::uint64_t seq) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).core.book.Since(seq);
}

std::uint64_t TcpPrinters::ChaosNext(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).core.book.Next();
}

std::size_t TcpPrinters::Connections(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).connections;
}

std::size_t TcpPrinters::Resets(std::size_t printer) const {
    std::lock_guard<std::mutex> lock(mu_);
    return At(printer).resets;
}

std::size_t TcpPrinters::PeakClients() const {
    std::lock_guard<std::mutex> lock(mu_);
    return peakClients_;
}

void TcpPrinters::Wake() {
    if (wake_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

void TcpPrinters::Log(const Station& s, const std::string& line) {
    if (log_ == nullptr) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", std::chrono::duration<double>(Clock::now() - start_).count());
    log_->Write(stamp + s.name + " " + line);
}

}  // namespace vprinter
