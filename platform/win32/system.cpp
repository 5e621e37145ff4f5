// The real services on Windows: GetTickCount, GetLocalTime, and Windows Sockets 1.1 for names and
// for its own start-up and clean-up.
#include "platform/system.h"

#include <winsock.h>
#include <windows.h>

#include <cstring>

namespace platform::system {

std::uint32_t Tick() { return ::GetTickCount(); }

double LocalDateTime() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return DayValueFromCivil(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                             now.wMilliseconds);
}

bool HostName(std::string& name) {
    char buffer[64];
    if (::gethostname(buffer, sizeof buffer) != 0) return false;
    if (std::memchr(buffer, 0, sizeof buffer) == nullptr) return false;
    name = buffer;
    return true;
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

int SocketsStartup() {
    WSADATA data;
    return ::WSAStartup(0x0101, &data);
}

void SocketsCleanup() { ::WSACleanup(); }

}  // namespace platform::system
