// The network line on Windows: a non-blocking Winsock socket, its connect
// and every read and write bounded by select() and the caller's deadline.
#include "cli/net/tcp_line.h"

// winsock2.h before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "cli/run/deadline.h"
#include "cli/windows/system_error.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

constexpr int kMaxDrainReads = 64;

// Winsock is started once for the process and never stopped: lines may be
// open on other threads up to the process's end.
bool StartWinsock(std::string* error) {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) *error = "cannot start Winsock: " + SystemMessage(static_cast<DWORD>(started));
    return started == 0;
}

// select() takes a time-out, not a deadline.
timeval TimeLeft(TimePoint deadline) {
    const auto left =
        std::max<long long>(0, std::chrono::ceil<std::chrono::microseconds>(deadline - SteadyClock::now()).count());
    timeval tv;
    tv.tv_sec = static_cast<long>(left / 1000000);
    tv.tv_usec = static_cast<long>(left % 1000000);
    return tv;
}

bool WaitFor(SOCKET s, bool write, TimePoint deadline) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv = TimeLeft(deadline);
    return select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &tv) > 0;
}

// Name lookups: getaddrinfo on a thread of its own, waited for within the
// bound and the stop flag. A lookup that outlives its wait finishes alone
// and frees what it found; at most this many run at once in the process.
constexpr LONG kLookupThreads = 16;
constexpr DWORD kStopLookMs = 50;

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// A wait sliced so that the stop flag is looked at.
DWORD MsLeft(TimePoint deadline) { return static_cast<DWORD>(std::min<int>(MsUntil(deadline), kStopLookMs)); }

HANDLE LookupSlots() {
    static const HANDLE slots = CreateSemaphoreW(nullptr, kLookupThreads, kLookupThreads, nullptr);
    return slots;
}

struct NameLookup {
    std::string host, service;
    addrinfo hints{};
    int status = EAI_AGAIN;
    addrinfo* found = nullptr;
    ScopedHandle done;
    LONG refs = 2;  // the lookup's thread and its waiter
    void Release() {
        if (InterlockedDecrement(&refs) != 0) return;
        if (found != nullptr) freeaddrinfo(found);
        delete this;
    }
};

DWORD WINAPI RunLookup(void* arg) {
    auto* lookup = static_cast<NameLookup*>(arg);
    lookup->status = getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &lookup->hints, &lookup->found);
    SetEvent(lookup->done.Get());
    ReleaseSemaphore(LookupSlots(), 1, nullptr);
    lookup->Release();
    return 0;
}

// 0 with *found, or a getaddrinfo error; *why says why when it is not the resolver's.
int LookUp(const std::string& host, const std::string& service, const addrinfo& hints, TimePoint deadline,
           const std::atomic<bool>* stop, addrinfo** found, std::string* why) {
    for (;;) {
        if (Stopped(stop)) return *why = "the command was told to stop", EAI_AGAIN;
        if (WaitForSingleObject(LookupSlots(), MsLeft(deadline)) == WAIT_OBJECT_0) break;
        if (MsLeft(deadline) == 0) return *why = "too many name lookups under way", EAI_AGAIN;
    }
    auto* lookup = new NameLookup;
    lookup->host = host;
    lookup->service = service;
    lookup->hints = hints;
    lookup->done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedHandle thread(lookup->done ? CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr) : nullptr);
    if (!thread) {
        ReleaseSemaphore(LookupSlots(), 1, nullptr);
        delete lookup;
        return *why = "cannot start the name's lookup", EAI_AGAIN;
    }
    for (;;) {
        if (WaitForSingleObject(lookup->done.Get(), MsLeft(deadline)) == WAIT_OBJECT_0) {
            const int status = lookup->status;
            *found = lookup->found;
            lookup->found = nullptr;
            lookup->Release();
            return status;
        }
        if (Stopped(stop) || MsLeft(deadline) == 0) {
            *why = Stopped(stop) ? "the command was told to stop" : "the name server did not answer in time";
            lookup->Release();
            return EAI_AGAIN;
        }
    }
}

std::string ErrorText(int code) {
    switch (code) {
        case WSAECONNRESET:
        case WSAECONNABORTED: return "the connection was reset";
        default: return SystemMessage(static_cast<DWORD>(code));
    }
}

class TcpLine : public Line {
public:
    explicit TcpLine(SOCKET s) : s_(s) {}
    ~TcpLine() override { closesocket(s_); }
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    bool IsSerial() const override { return false; }
    bool SetSpeed(int, std::string*) override { return true; }

    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override {
        std::size_t dropped = 0;
        char drain[256];
        for (int i = 0; i < kMaxDrainReads && !failed_; ++i) {
            const int n = recv(s_, drain, sizeof drain, 0);
            if (n > 0) {
                dropped += static_cast<std::size_t>(n);
                if (kept != nullptr && kept->size() < kKeptDiscard)
                    kept->insert(kept->end(), drain, drain + std::min<std::size_t>(n, kKeptDiscard - kept->size()));
                continue;
            }
            if (n == 0) Fail("the printer closed the connection");
            if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK) Fail(ErrorText(WSAGetLastError()));
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
            const int n = send(s_, reinterpret_cast<const char*>(data + sent), static_cast<int>(size - sent), 0);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            const int code = WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                Fail(ErrorText(code));
                *error = failure_;
                return false;
            }
            if (!WaitFor(s_, true, deadline)) {
                *error = "the printer takes no more bytes";
                return false;
            }
        }
        return true;
    }

    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        if (failed_) return -1;
        for (;;) {
            const int n = recv(s_, reinterpret_cast<char*>(buf), static_cast<int>(max), 0);
            if (n > 0) return n;
            if (n == 0) return Fail("the printer closed the connection");
            const int code = WSAGetLastError();
            if (code != WSAEWOULDBLOCK) return Fail(ErrorText(code));
            if (SteadyClock::now() >= deadline) return 0;
            WaitFor(s_, false, deadline);
        }
    }

    std::string FailureText() const override { return failure_; }

private:
    int Fail(std::string why) {
        failed_ = true;
        failure_ = std::move(why);
        return -1;
    }

    SOCKET s_;
    bool failed_ = false;
    std::string failure_;
};

SOCKET Connect(const addrinfo& a, TimePoint deadline, std::chrono::milliseconds timeout, std::string* error) {
    SOCKET s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s == INVALID_SOCKET) {
        *error = "socket: " + SystemMessage(static_cast<DWORD>(WSAGetLastError()));
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int code = 0;
    if (connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
        code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK) {
            // Writable: connected; in the failed set: refused or unreachable.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_SET(s, &writable);
            FD_ZERO(&failed);
            FD_SET(s, &failed);
            timeval tv = TimeLeft(deadline);
            const int ready = select(0, nullptr, &writable, &failed, &tv);
            int size = sizeof code;
            if (ready == 0) {
                code = WSAETIMEDOUT;
            } else if (ready < 0) {
                code = WSAGetLastError();
            } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size) != 0) {
                code = WSAGetLastError();
            }
        }
    }
    if (code == 0) return s;
    closesocket(s);
    if (code == WSAECONNREFUSED) {
        *error = "connection refused: nothing listens on that port";
    } else if (code == WSAETIMEDOUT) {
        *error = "no connection within " + std::to_string(timeout.count()) +
                 " ms: the printer is off or unreachable, or the address is wrong";
    } else {
        *error = "cannot connect: " + SystemMessage(static_cast<DWORD>(code));
    }
    return INVALID_SOCKET;
}

}  // namespace

std::unique_ptr<Line> OpenTcpLine(const PortName& port, std::chrono::milliseconds connectTimeout, std::string* error,
                                  const std::atomic<bool>* stop) {
    if (!StartWinsock(error)) return nullptr;
    const TimePoint deadline = SteadyClock::now() + connectTimeout;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port.number);
    // An address literal needs no lookup.
    addrinfo literal = hints;
    literal.ai_flags |= AI_NUMERICHOST;
    int resolved = getaddrinfo(port.host.c_str(), service.c_str(), &literal, &found);
    std::string why;
    if (resolved != 0) resolved = LookUp(port.host, service, hints, deadline, stop, &found, &why);
    if (resolved != 0) {
        *error = Stopped(stop) ? "not connected: the command was told to stop"
                               : "the name " + port.host + " resolves to no address (" +
                                     (why.empty() ? SystemMessage(static_cast<DWORD>(resolved)) : why) + ")";
        return nullptr;
    }
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* a = found; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
        if (a != found && SteadyClock::now() >= deadline) break;
        s = Connect(*a, deadline, connectTimeout, error);
    }
    freeaddrinfo(found);
    if (s == INVALID_SOCKET) return nullptr;
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return std::make_unique<TcpLine>(s);
}

}  // namespace morvane::cli
