// The Windows test's side of the pty peer (tests/wine/pty_peer.cpp): a
// line-per-command TCP client. The peer's address comes from the
// environment variable MORVANE_PTY_PEER ("127.0.0.1:port").
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane::test {

using Bytes = std::vector<std::uint8_t>;

struct LineSettings {
    long speed = -1;
    int csize = -1;
    int parenb = -1;
    int parodd = -1;
    int cstopb = -1;
    int crtscts = -1;
    int ixon = -1;
    int ixoff = -1;
};

class PeerClient {
public:
    PeerClient() = default;
    ~PeerClient();
    PeerClient(const PeerClient&) = delete;
    PeerClient& operator=(const PeerClient&) = delete;

    // Connects to the peer named by MORVANE_PTY_PEER; on failure says why.
    bool Connect(std::string& why);

    // One command line; the reply line ("OK ..." / "ERR ..."), or "ERR <why>"
    // when the peer could not be reached (every wait is bounded).
    std::string Command(const std::string& line);

    // A new pty linked under `name` ("com5", "lpt1", "@usb1"); returns the
    // link's path on Linux, empty on failure.
    std::string Link(const std::string& name);
    // Like Link, to a FIFO: a device that is no serial line.
    std::string LinkFifo(const std::string& name);
    bool Unlink(const std::string& name);
    // Descriptors that other processes (Wine's included) hold on the device.
    std::optional<int> Openers(const std::string& name);
    bool Hangup(const std::string& name);
    // Bytes to the Windows side, after delayMs (0: written before this returns).
    bool Send(const std::string& name, const Bytes& bytes, int delayMs = 0);
    // Bytes that came from the Windows side: until `count` or timeoutMs pass.
    std::optional<Bytes> Read(const std::string& name, int count, int timeoutMs);
    std::optional<Bytes> Drain(const std::string& name);
    std::optional<LineSettings> Termios(const std::string& name);
    bool SetTermios(const std::string& name, long speed, int csize, bool parenb, bool cstopb);

private:
    std::uintptr_t socket_ = kNoSocket;  // a SOCKET; winsock stays out of this header
    static constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};
    std::string pending_;
};

std::string ToHex(const Bytes& bytes);

}  // namespace morvane::test
