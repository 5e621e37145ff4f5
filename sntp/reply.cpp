// Reading a datagram as a reply, and judging where it came from and what it says.
#include "sntp/reply.h"

namespace sntp {

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
           (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

std::uint64_t BigEndian64(const std::uint8_t* p) {
    return (std::uint64_t{BigEndian32(p)} << 32) | BigEndian32(p + 4);
}

}  // namespace

Header DecodeHeader(const std::uint8_t* datagram) {
    Header h;
    h.leapVersionMode = datagram[kLeapVersionMode];
    h.stratum = datagram[kStratum];
    h.poll = static_cast<std::int8_t>(SignedByte(datagram[kPoll]));
    h.precision = static_cast<std::int8_t>(SignedByte(datagram[kPrecision]));
    h.rootDelay = BigEndian32(datagram + kRootDelay);
    h.rootDispersion = BigEndian32(datagram + kRootDispersion);
    h.referenceId = BigEndian32(datagram + kReferenceId);
    h.referenceTime = BigEndian64(datagram + kReferenceTimestamp);
    h.originTime = BigEndian64(datagram + kOriginateTimestamp);
    h.receiveTime = BigEndian64(datagram + kReceiveTimestamp);
    h.transmitTime = BigEndian64(datagram + kTransmitTimestamp);
    return h;
}

bool IsAcceptedSource(platform::IPv4 source, platform::IPv4 server) {
    return source == server                                  // the server asked
           || source == platform::IPv4FromBytes(127, 0, 0, 1);  // this machine, asking itself
}

bool IsInvalidReply(const std::uint8_t* reply) {
    const Header h = DecodeHeader(reply);
    return h.leap() == 3         // clock not synchronised
           || h.stratum == 0     // kiss-o'-death or unspecified
           || h.stratum > 15     // unsynchronised or reserved
           || h.transmitTime == 0;  // no time at all
}

bool IsServerAnswer(const std::uint8_t* reply) {
    const Header h = DecodeHeader(reply);
    return h.mode() == 4           // a server's reply to a client
           && h.receiveTime != 0;  // with the time the request reached it
}

}  // namespace sntp
