// The real services of this operating system; implemented once for Windows and once for POSIX.
// Only platform/services.cpp uses these: everything else goes through the replaceable table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/address.h"

namespace platform::system {

std::uint32_t Tick();
double LocalDateTime();
bool OwnAddresses(std::vector<IPv4>& addresses);
bool ResolveName(const std::string& name, std::vector<IPv4>& addresses);
int SocketsStartup();
void SocketsCleanup();

}  // namespace platform::system
