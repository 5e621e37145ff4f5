// The real services on POSIX systems: the monotonic clock as the millisecond tick, localtime_r for
// the wall clock, the interfaces (getifaddrs) for this machine's own addresses, gethostbyname_r
// for names. There is no Windows Sockets to start;
// the start-up is only counted, so that the same balance holds on every system.
#include "platform/system.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/calendar.h"

namespace platform::system {

std::uint32_t Tick() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

double LocalDateTime() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    return DayValueFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec,
                             static_cast<int>(now.tv_nsec / 1000000));
}

bool OwnAddresses(std::vector<IPv4>& addresses) {
    addresses.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
        IPv4 address;
        std::memcpy(&address, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
        addresses.push_back(address);
    }
    freeifaddrs(list);
    // A machine without a network has the loopback address alone, as Windows answers then.
    if (addresses.empty()) addresses.push_back(IPv4FromBytes(127, 0, 0, 1));
    return true;
}

bool ResolveName(const std::string& name, std::vector<IPv4>& addresses) {
    addresses.clear();
    hostent entry;
    hostent* result = nullptr;
    std::vector<char> work(8192);
    int error = 0;
    while (gethostbyname_r(name.c_str(), &entry, work.data(), work.size(), &result, &error) ==
           ERANGE)
        work.resize(work.size() * 2);
    if (result == nullptr || result->h_addrtype != AF_INET || result->h_length != 4) return false;
    for (char** p = result->h_addr_list; *p != nullptr; ++p) {
        IPv4 address;
        std::memcpy(&address, *p, 4);
        addresses.push_back(address);
    }
    return true;
}

namespace {
std::atomic<int> startups{0};
}

int SocketsStartup() {
    ++startups;
    return 0;
}

void SocketsCleanup() {
    if (startups > 0) --startups;
}

}  // namespace platform::system
