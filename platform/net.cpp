// The parts of the extended query's services that are the same on every system.
#include "platform/net.h"

#include <cstring>

namespace platform::net {

bool SocketAddress::operator==(const SocketAddress& other) const {
    const std::size_t bytes = family == 4 ? 4 : 16;
    return family == other.family && port == other.port &&
           std::memcmp(address, other.address, bytes) == 0 && (family == 4 || scope == other.scope);
}

}  // namespace platform::net
