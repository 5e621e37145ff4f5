// The message conversions. The time arithmetic runs in the x87 extended format (64-bit
// significand, rounding to nearest) whatever precision the host set, and is rounded to double only
// where a value is stored; the same chain in double precision differs in the last bits.
#include "sntp/message.h"

#include <cfloat>

#include "platform/fpu.h"

static_assert(LDBL_MANT_DIG == 64, "long double must be the x87 extended format");

namespace sntp {

namespace {

using platform::RoundToDouble;

using Extended = long double;

// The multipliers, each the nearest number with a 64-bit significand.
constexpr Extended kOneSixtieth = 1.0L / 60.0L;
constexpr Extended kOneTwentyFourth = 1.0L / 24.0L;
constexpr Extended kOneThousandth = 1.0L / 1000.0L;
constexpr Extended kTwoPowMinus24 = 1.0L / 16777216.0L;
constexpr Extended kEraLength = 4294967296.0L;  // 2^32 seconds
constexpr Extended kNtpEpochDayValue = 2.0L;     // 1900-01-01 00:00

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
           (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

// The arithmetic runs in functions of their own, called while the precision scope holds, so that
// the compiler cannot move any of it outside the scope.
__attribute__((noinline)) double TimestampChain(std::uint32_t seconds, std::uint32_t fraction24) {
    // Era 0 holds the seconds fields with the top bit set; era 1 the others. All sums are exact.
    Extended s = static_cast<Extended>(seconds);
    if ((seconds & 0x80000000u) == 0) s += kEraLength;
    const double days = RoundToDouble(s * kOneSixtieth * kOneSixtieth * kOneTwentyFourth);
    const double dayValue = RoundToDouble(days + kNtpEpochDayValue);
    const Extended fraction = static_cast<Extended>(fraction24);
    return RoundToDouble(fraction * kOneSixtieth * kOneSixtieth * kOneTwentyFourth *
                             kTwoPowMinus24 +
                         dayValue);
}

__attribute__((noinline)) double EstimateChain(double transmit, double receive,
                                               std::int32_t roundTripMs) {
    const Extended held = static_cast<Extended>(transmit) - receive;
    const Extended roundTrip = static_cast<Extended>(roundTripMs) * kOneThousandth *
                               kOneTwentyFourth * kOneSixtieth * kOneSixtieth;
    const Extended network = roundTrip - held;
    return RoundToDouble(network * 0.5L + transmit);
}

__attribute__((noinline)) double DifferenceChain(double later, double earlier) {
    return RoundToDouble(static_cast<Extended>(later) - earlier);
}

__attribute__((noinline)) double ShortChain(std::uint32_t magnitude, bool negative) {
    const double seconds = RoundToDouble(static_cast<Extended>(magnitude) / 65536.0L);
    return negative ? -seconds : seconds;
}

}  // namespace

Message BuildRequest() {
    Message request{};
    request[kLeapVersionMode] = 0x0B;  // leap 0, version 1, mode 3
    return request;
}

double NtpTimestampToDayValue(const std::uint8_t* timestamp) {
    const std::uint32_t seconds = BigEndian32(timestamp);
    const std::uint32_t fraction24 = (std::uint32_t{timestamp[4]} << 16) |
                                     (std::uint32_t{timestamp[5]} << 8) | timestamp[6];
    platform::ExtendedPrecisionScope extended;
    return TimestampChain(seconds, fraction24);
}

double NtpShortToSeconds(const std::uint8_t* value) {
    const std::uint32_t raw = BigEndian32(value);
    // 31 bits of magnitude: exact in double, but not at a host's single precision.
    platform::ExtendedPrecisionScope extended;
    return ShortChain(raw & 0x7FFFFFFFu, (raw & 0x80000000u) != 0);
}

std::int32_t SignedByte(std::uint8_t b) { return b >= 0x80 ? b - 256 : b; }

std::int32_t TickDifference(std::uint32_t later, std::uint32_t earlier) {
    std::int32_t d = static_cast<std::int32_t>(later & 0x3FFFFFFFu) -
                     static_cast<std::int32_t>(earlier & 0x3FFFFFFFu);
    if (d < 0) d += 0x40000000;
    return d;
}

double EstimateServerTime(double transmit, double receive, std::int32_t roundTripMs) {
    platform::ExtendedPrecisionScope extended;
    return EstimateChain(transmit, receive, roundTripMs);
}

double DayValueDifference(double later, double earlier) {
    // The host may have set the x87 unit to single precision, which would cost minutes here.
    platform::ExtendedPrecisionScope extended;
    return DifferenceChain(later, earlier);
}

}  // namespace sntp
