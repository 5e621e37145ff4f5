// The replaceable platform services: the millisecond tick, the local wall clock, the name services,
// this machine's own addresses and the start-up of Windows Sockets. Everything in the library
// reaches them through here, so that tests can swap one for the length of a test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Windows Sockets error codes: the one error vocabulary of the socket layer on every system.
enum SocketError : int {
    kWSAEINTR = 10004,
    kWSAEBADF = 10009,
    kWSAEACCES = 10013,
    kWSAEFAULT = 10014,
    kWSAEINVAL = 10022,
    kWSAEMFILE = 10024,
    kWSAEWOULDBLOCK = 10035,
    kWSAENOTSOCK = 10038,
    kWSAEDESTADDRREQ = 10039,
    kWSAEMSGSIZE = 10040,
    kWSAEPROTONOSUPPORT = 10043,
    kWSAEAFNOSUPPORT = 10047,
    kWSAEADDRINUSE = 10048,
    kWSAEADDRNOTAVAIL = 10049,
    kWSAENETDOWN = 10050,
    kWSAENETUNREACH = 10051,
    kWSAECONNABORTED = 10053,
    kWSAECONNRESET = 10054,
    kWSAENOBUFS = 10055,
    kWSAENOTCONN = 10057,
    kWSAEHOSTUNREACH = 10065,
    kWSASYSNOTREADY = 10091,
    kWSAHOST_NOT_FOUND = 11001,
};

// An IPv4 address as it lies in memory in network byte order: 127.0.0.1 is the bytes 7F 00 00 01.
using IPv4 = std::uint32_t;
IPv4 IPv4FromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3);

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

// The day value of a civil date and time, to the millisecond (no time-zone conversion).
double DayValueFromCivil(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

}  // namespace platform
