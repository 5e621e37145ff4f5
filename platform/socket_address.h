// The conversions between platform::net::SocketAddress and the system's socket address records,
// over the BSD socket structures that POSIX and Windows Sockets 2 share. Included only by the
// files that implement platform/net.h.
#pragma once

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // getaddrinfo and getnameinfo: Windows 7 and later
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketAddressLength = int;
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SocketAddressLength = socklen_t;
#endif

#include <cstring>
#include <string>
#include <vector>

#include "platform/net.h"

namespace platform::net {

inline SocketAddressLength ToSystem(const SocketAddress& from, sockaddr_storage& to) {
    std::memset(&to, 0, sizeof to);
    if (from.family == 4) {
        auto* sa = reinterpret_cast<sockaddr_in*>(&to);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(from.port);
        std::memcpy(&sa->sin_addr, from.address, 4);
        return sizeof *sa;
    }
    auto* sa = reinterpret_cast<sockaddr_in6*>(&to);
    sa->sin6_family = AF_INET6;
    sa->sin6_port = htons(from.port);
    std::memcpy(&sa->sin6_addr, from.address, 16);
    sa->sin6_scope_id = from.scope;
    return sizeof *sa;
}

// The address that binds a socket of the family to any local address and a port the system
// chooses.
inline SocketAddressLength AnyAddress(int family, sockaddr_storage& any) {
    SocketAddress none;
    none.family = family == 6 ? 6 : 4;
    return ToSystem(none, any);
}

inline bool FromSystem(const sockaddr* from, SocketAddress& to) {
    to = SocketAddress{};
    if (from->sa_family == AF_INET) {
        const auto* sa = reinterpret_cast<const sockaddr_in*>(from);
        to.family = 4;
        to.port = ntohs(sa->sin_port);
        std::memcpy(to.address, &sa->sin_addr, 4);
        return true;
    }
    if (from->sa_family == AF_INET6) {
        const auto* sa = reinterpret_cast<const sockaddr_in6*>(from);
        to.family = 6;
        to.port = ntohs(sa->sin6_port);
        std::memcpy(to.address, &sa->sin6_addr, 16);
        to.scope = sa->sin6_scope_id;
        return true;
    }
    return false;
}

}  // namespace platform::net
