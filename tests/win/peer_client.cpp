#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/win/peer_client.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/common/hex_token.h"

namespace morvane::test {
namespace {

// No peer command takes this long; a test never waits for ever on the peer.
constexpr DWORD kReplyTimeoutMs = 20000;

std::optional<Bytes> ParseHexReply(const std::string& reply) {
    if (reply.rfind("OK ", 0) != 0) return std::nullopt;
    const auto bytes = ParseHexToken(std::string_view(reply).substr(3));
    if (!bytes) return std::nullopt;
    return Bytes(bytes->begin(), bytes->end());
}

}  // namespace

std::string ToHex(const Bytes& bytes) {
    return HexToken(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

PeerClient::~PeerClient() {
    if (socket_ != kNoSocket) closesocket(static_cast<SOCKET>(socket_));
}

bool PeerClient::Connect(std::string& why) {
    const char* address = std::getenv("MORVANE_PTY_PEER");
    if (address == nullptr || *address == '\0') {
        why = "MORVANE_PTY_PEER is not set (run through the CTest entry that starts pty_peer)";
        return false;
    }
    const std::string text(address);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        why = "MORVANE_PTY_PEER is not host:port: " + text;
        return false;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        why = "WSAStartup failed";
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
    if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &addr.sin_addr) != 1) {
        why = "bad peer host in " + text;
        return false;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        why = "socket failed";
        return false;
    }
    const DWORD timeout = kReplyTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        why = "cannot connect to the pty peer at " + text + " (error " + std::to_string(WSAGetLastError()) + ")";
        closesocket(s);
        return false;
    }
    socket_ = static_cast<std::uintptr_t>(s);
    return true;
}

std::string PeerClient::Command(const std::string& line) {
    if (socket_ == kNoSocket) return "ERR not connected";
    const auto s = static_cast<SOCKET>(socket_);
    const std::string out = line + "\n";
    if (send(s, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size())) {
        return "ERR send to peer failed";
    }
    for (;;) {
        const std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string reply = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return reply;
        }
        char buf[4096];
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return "ERR no reply from peer to: " + line;
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string PeerClient::Link(const std::string& name) {
    const std::string reply = Command("LINK " + name);
    return reply.rfind("OK ", 0) == 0 ? reply.substr(3) : std::string();
}

std::string PeerClient::LinkFifo(const std::string& name) {
    const std::string reply = Command("FIFO " + name);
    return reply.rfind("OK ", 0) == 0 ? reply.substr(3) : std::string();
}

std::optional<int> PeerClient::Openers(const std::string& name) {
    const std::string reply = Command("OPENERS " + name);
    if (reply.rfind("OK ", 0) != 0) return std::nullopt;
    return std::atoi(reply.c_str() + 3);
}

bool PeerClient::Unlink(const std::string& name) { return Command("UNLINK " + name) == "OK"; }

bool PeerClient::Hangup(const std::string& name) { return Command("HANGUP " + name) == "OK"; }

bool PeerClient::Send(const std::string& name, const Bytes& bytes, int delayMs) {
    return Command("SEND " + name + " " + std::to_string(delayMs) + " " + ToHex(bytes)) == "OK";
}

std::optional<Bytes> PeerClient::Read(const std::string& name, int count, int timeoutMs) {
    return ParseHexReply(Command("READ " + name + " " + std::to_string(timeoutMs) + " " + std::to_string(count)));
}

std::optional<Bytes> PeerClient::Drain(const std::string& name) { return ParseHexReply(Command("DRAIN " + name)); }

std::optional<LineSettings> PeerClient::Termios(const std::string& name) {
    const std::string reply = Command("TERMIOS " + name);
    if (reply.rfind("OK ", 0) != 0) return std::nullopt;
    LineSettings s;
    std::istringstream in(reply.substr(3));
    std::string field;
    while (in >> field) {
        const std::size_t eq = field.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = field.substr(0, eq);
        const long value = std::atol(field.c_str() + eq + 1);
        if (key == "speed")
            s.speed = value;
        else if (key == "csize")
            s.csize = static_cast<int>(value);
        else if (key == "parenb")
            s.parenb = static_cast<int>(value);
        else if (key == "parodd")
            s.parodd = static_cast<int>(value);
        else if (key == "cstopb")
            s.cstopb = static_cast<int>(value);
        else if (key == "crtscts")
            s.crtscts = static_cast<int>(value);
        else if (key == "ixon")
            s.ixon = static_cast<int>(value);
        else if (key == "ixoff")
            s.ixoff = static_cast<int>(value);
    }
    return s;
}

bool PeerClient::SetTermios(const std::string& name, long speed, int csize, bool parenb, bool cstopb) {
    return Command("SETTERMIOS " + name + " " + std::to_string(speed) + " " + std::to_string(csize) + " " +
                   (parenb ? "1" : "0") + " " + (cstopb ? "1" : "0")) == "OK";
}

}  // namespace morvane::test
