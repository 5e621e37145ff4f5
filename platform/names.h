// Name services, this machine's own addresses and the counted start-up of Windows Sockets, as the rest of the system calls them.
#pragma once

#include <string>
#include <vector>

#include "platform/services.h"

namespace platform {

// This machine's own IPv4 addresses, in the system's order; false when they cannot be read.
bool OwnAddresses(std::vector<IPv4>& addresses);
bool ResolveName(const std::string& name, std::vector<IPv4>& addresses);
int SocketsStartup();
void SocketsCleanup();

// Dotted decimal text of an address, its bytes in memory order (as inet_ntoa writes it).
std::string DottedText(IPv4 address);

}  // namespace platform
