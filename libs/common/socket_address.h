// An IPv4 or IPv6 address literal and a TCP port as a POSIX socket address.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace morvane {

// False for anything else: a host name, an IPv6 scope, a form like "127.1".
inline bool SocketAddressOf(const std::string& address, int port, sockaddr_storage* storage, socklen_t* size) {
    *storage = {};
    const auto net = htons(static_cast<std::uint16_t>(port));
    auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = net;
        *size = sizeof *v4;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = net;
        *size = sizeof *v6;
        return true;
    }
    return false;
}

}  // namespace morvane
