// The replaceable platform services: the millisecond tick, the local wall clock, the name services,
// this machine's own addresses and the start-up of Windows Sockets. Everything in the library
// reaches them through here, so that tests can swap one for the length of a test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/address.h"

namespace platform {

struct Services {
    // The millisecond tick since system start; wraps after 2^32 ms.
    std::function<std::uint32_t()> tick;
    // The local date and time as a day value (days since 1899-12-30, fraction = time of day).
    std::function<double()> localDateTime;
    // This machine's own IPv4 addresses, in the system's order; false when they cannot be read.
    // Windows: what the local host name resolves to (the network adapters' addresses; an empty
    // list when it does not resolve). POSIX: the interfaces that are up and not loopback, or
    // 127.0.0.1 alone when there is none; a hosts file decides nothing there.
    std::function<bool(std::vector<IPv4>& addresses)> ownAddresses;
    // The IPv4 addresses a host name resolves to, in the resolver's order; false when it does not.
    std::function<bool(const std::string& name, std::vector<IPv4>& addresses)> resolveName;
    // Windows Sockets 1.1 start-up (0 or an error code) and the matching clean-up; both counted.
    std::function<int()> socketsStartup;
    std::function<void()> socketsCleanup;
};

// The services in force, and the real ones of this system.
Services& CurrentServices();
const Services& SystemServices();

// Frees the tables; for the library's last act as it is unloaded.
void ReleaseServices();

// Replaces services for its own lifetime and restores what was there before.
class ServicesOverride {
public:
    ServicesOverride() : saved_(CurrentServices()) {}
    ~ServicesOverride() { CurrentServices() = saved_; }
    ServicesOverride(const ServicesOverride&) = delete;
    ServicesOverride& operator=(const ServicesOverride&) = delete;
    Services& services() { return CurrentServices(); }

private:
    Services saved_;
};

}  // namespace platform
