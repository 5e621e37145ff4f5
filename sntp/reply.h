// A datagram read as a reply: its header in wire order, the test of where it came from, and the
// judgements of what it says. Pure functions of their arguments.
#pragma once

#include <cstdint>

#include "platform/address.h"
#include "sntp/message.h"

namespace sntp {

// The fixed header of a 48-byte message, each field in wire order as the number it stands for
// (every multi-byte field is big-endian on the wire).
struct Header {
    std::uint8_t leapVersionMode;  // leap indicator (2 bits), version number (3), mode (3)
    std::uint8_t stratum;          // 0 kiss-o'-death, 1 primary, 2-15 secondary, 16 unsynchronised
    std::int8_t poll;              // log2 seconds
    std::int8_t precision;         // log2 seconds
    std::uint32_t rootDelay;       // NTP short value, 16.16 fixed point
    std::uint32_t rootDispersion;  // NTP short value
    std::uint32_t referenceId;     // four bytes, the first highest (a kiss code for stratum 0)
    std::uint64_t referenceTime;   // NTP timestamps: seconds since 1900 (high 32 bits), fraction
    std::uint64_t originTime;      // the client's transmit time, echoed
    std::uint64_t receiveTime;     // the server's clock when the request arrived
    std::uint64_t transmitTime;    // the server's clock when the reply left

    int leap() const { return LeapIndicator(leapVersionMode); }
    int version() const { return VersionNumber(leapVersionMode); }
    int mode() const { return Mode(leapVersionMode); }
};

// Reads the header of a 48-byte datagram.
Header DecodeHeader(const std::uint8_t* datagram);

// Whether a datagram from `source` may be the reply to a query of `server`: it comes from the
// server itself, or from the loopback address (this machine asked itself). The port is not looked
// at.
bool IsAcceptedSource(platform::IPv4 source, platform::IPv4 server);

// The sanity test: true when a reply cannot be trusted for the time (unsynchronised, a
// kiss-o'-death, or no time at all).
bool IsInvalidReply(const std::uint8_t* reply);

// True when a reply is a server's answer to a client: mode 4 (server) with the time the request
// reached it. A broadcast (mode 5) carries no receive time; neither does anything that is not an
// answer.
bool IsServerAnswer(const std::uint8_t* reply);

}  // namespace sntp
