// The real services on Windows: GetTickCount, GetLocalTime, and Windows Sockets 1.1 for names, for
// this machine's own addresses (its host name's) and for its own start-up and clean-up.
#include "platform/system.h"

#include <winsock.h>
#include <windows.h>

#include <cstring>

#include "platform/calendar.h"

namespace platform::system {

std::uint32_t Tick() { return ::GetTickCount(); }

double LocalDateTime() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return DayValueFromCivil(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                             now.wMilliseconds);
}

bool ResolveName(const std::string& name, std::vector<IPv4>& addresses) {
    addresses.clear();
    const hostent* entry = ::gethostbyname(name.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4) return false;
    for (char** p = entry->h_addr_list; *p != nullptr; ++p) {
        IPv4 address;
        std::memcpy(&address, *p, 4);
        addresses.push_back(address);
    }
    return true;
}

// Windows answers the look-up of its own host name with the network adapters' addresses, and
// with 127.0.0.1 alone when there is none. A host name that does not resolve gives no address.
bool OwnAddresses(std::vector<IPv4>& addresses) {
    addresses.clear();
    char buffer[64];
    if (::gethostname(buffer, sizeof buffer) != 0) return false;
    if (std::memchr(buffer, 0, sizeof buffer) == nullptr) return false;  // cut short: too long
    ResolveName(buffer, addresses);
    return true;
}

int SocketsStartup() {
    WSADATA data;
    return ::WSAStartup(0x0101, &data);
}

void SocketsCleanup() { ::WSACleanup(); }

}  // namespace platform::system
