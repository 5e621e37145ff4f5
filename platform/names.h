// Name services, this machine's own addresses and the counted start-up of Windows Sockets, as
// the rest of the system calls them.
#pragma once

#include <string>
#include <vector>

#include "platform/address.h"

namespace platform {

// This machine's own IPv4 addresses, in the system's order; false when they cannot be read.
bool OwnAddresses(std::vector<IPv4>& addresses);
bool ResolveName(const std::string& name, std::vector<IPv4>& addresses);
int SocketsStartup();
void SocketsCleanup();

}  // namespace platform
