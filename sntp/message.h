// The 48-byte SNTP message and the conversions the client reads it with: NTP timestamps to day
// values, NTP short values to seconds, signed bytes, tick differences, and the time arithmetic of
// the estimate and the offset.
#pragma once

#include <array>
#include <cstdint>

namespace sntp {

constexpr int kMessageSize = 48;
using Message = std::array<std::uint8_t, kMessageSize>;

// Byte offsets of the fields, in wire order. Every field of more than one byte is big-endian.
enum MessageOffset : int {
    kLeapVersionMode = 0,     // leap indicator (bits 7-6), version (5-3), mode (2-0)
    kStratum = 1,             // unsigned
    kPoll = 2,                // signed, log2 seconds
    kPrecision = 3,           // signed, log2 seconds
    kRootDelay = 4,           // NTP short value
    kRootDispersion = 8,      // NTP short value
    kReferenceId = 12,        // four bytes, not decoded
    kReferenceTimestamp = 16,
    kOriginateTimestamp = 24,
    kReceiveTimestamp = 32,   // the server's clock when the request arrived
    kTransmitTimestamp = 40,  // the server's clock when the reply left
};

// The client request: leap indicator 0, version 1, mode 3 (client); everything else zero, the
// transmit timestamp included.
Message BuildRequest();

inline int LeapIndicator(std::uint8_t b) { return b >> 6; }
inline int VersionNumber(std::uint8_t b) { return (b >> 3) & 7; }
inline int Mode(std::uint8_t b) { return b & 7; }

// An NTP timestamp (seconds since 1900-01-01 and a fraction) as a day value. Seconds fields with
// their top bit 0 lie in the era that began 2036-02-07 06:28:16. The last byte of the fraction is
// finer than a day value can show and is not read.
double NtpTimestampToDayValue(const std::uint8_t* timestamp);

// An NTP short value (16.16 fixed point), read with bit 31 as a sign and the rest as magnitude.
double NtpShortToSeconds(const std::uint8_t* value);

std::int32_t SignedByte(std::uint8_t b);

// Milliseconds from `earlier` to `later` modulo 2^30: right across the wrap of the 32-bit tick as
// long as less than about 12.4 days passed, and never negative.
std::int32_t TickDifference(std::uint32_t later, std::uint32_t earlier);

// The server's clock at the moment its reply arrived: the transmit time plus half of the part of
// the round trip that the network took (the round trip less the time the server held the request).
double EstimateServerTime(double transmit, double receive, std::int32_t roundTripMs);

// `later` minus `earlier`, two day values, rounded once: the offset of the server's clock from the
// local one.
double DayValueDifference(double later, double earlier);

}  // namespace sntp
