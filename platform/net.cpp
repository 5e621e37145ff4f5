// The parts of the extended query's services that are the same on every system: the address
// text (getnameinfo) and the look-up (getaddrinfo), which POSIX and Windows Sockets 2 share.
#include "platform/net.h"

#include <cstring>

#include "platform/socket_address.h"

namespace platform::net {

bool SocketAddress::operator==(const SocketAddress& other) const {
    const std::size_t bytes = family == 4 ? 4 : 16;
    return family == other.family && port == other.port &&
           std::memcmp(address, other.address, bytes) == 0 && (family == 4 || scope == other.scope);
}

std::string SocketAddress::Text() const {
    sockaddr_storage storage;
    const SocketAddressLength length = ToSystem(*this, storage);
    char text[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, text, sizeof text, nullptr,
                    0, NI_NUMERICHOST) != 0)
        return std::string();
    return text;
}

bool Resolve(const std::string& host, std::uint16_t port, int family,
             std::vector<SocketAddress>& addresses) {
    addresses.clear();
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = family == 4 ? AF_INET : family == 6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        SocketAddress address;
        if (!FromSystem(entry->ai_addr, address)) continue;
        address.port = port;
        addresses.push_back(address);
    }
    freeaddrinfo(list);
    return !addresses.empty();
}

}  // namespace platform::net
