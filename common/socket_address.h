// An IPv4 or IPv6 address literal and a TCP port as a POSIX socket address.
#pragma once
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace morvane {

// The interface of an IPv6 scope, "eth0" or "2"; 0 for none known.
inline unsigned ScopeIdOf(const std::string& scope) {
    if (!scope.empty() && scope.find_first_not_of("0123456789") == std::string::npos)
        return scope.size() <= 9 ? static_cast<unsigned>(std::stoul(scope)) : 0;
    return if_nametoindex(scope.c_str());
}

// An IPv6 address may carry the interface it is reached on, as a link-local
// one must: "fe80::1%eth0", "fe80::1%2". False for anything else: a host
// name, an interface that does not exist, a form like "127.1".
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
    const std::size_t percent = address.find('%');
    if (inet_pton(AF_INET6, address.substr(0, percent).c_str(), &v6->sin6_addr) == 1) {
        if (percent != std::string::npos && (v6->sin6_scope_id = ScopeIdOf(address.substr(percent + 1))) == 0)
            return false;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = net;
        *size = sizeof *v6;
        return true;
    }
    return false;
}

}  // namespace morvane
