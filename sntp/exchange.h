// One SNTP exchange of the extended query, in pure arithmetic: the server text, the client request
// with its random transmit value, the test that a datagram answers that request, the reason of an
// answer that cannot be used, the era of each timestamp, and offset and delay computed on 64-bit
// fixed-point differences. No operating-system call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sntp/message.h"
#include "sntp/reply.h"

namespace sntp {

// Why an extended query ended as it did; the values are those of the public SNTP_REASON_*.
enum Reason : std::uint16_t {
    kReasonOk = 0,
    kReasonTimeout = 1,         // no answer within the limit
    kReasonNetwork = 2,         // a socket could not be opened or the send failed
    kReasonResolve = 3,         // the name does not resolve, or has no address of the family asked
    kReasonKiss = 4,            // stratum 0: a kiss-o'-death
    kReasonUnsynchronised = 5,  // leap 3, or stratum 16 and more
    kReasonBadReply = 6,        // an answer without a time, or one sent before it was received
    kReasonBadArgument = 7,     // the call's arguments
};

// A fixed English text for a reason; unknown reasons have one too.
const char* ReasonText(std::uint16_t reason);

// Splits "host", "host:port", "[v6]" or "[v6]:port" (and bare IPv6 text, which has several
// colons). `port` is -1 when the text names none. False for text that is neither.
bool SplitServerText(const std::string& text, std::string& host, int& port);

// An NTP timestamp as 64-bit fixed point: seconds within the era (high 32 bits) and fraction.
using NtpTime = std::uint64_t;

// The request: leap 0, version 4, mode 3 (client), every field zero but the transmit timestamp,
// which carries `transmitValue` (a random value, never the clock: it is what the answer echoes).
Message BuildClientRequest(NtpTime transmitValue);

// Whether a datagram answers that request: at least 48 bytes, mode 4, and an origin timestamp
// equal to the request's transmit value. (Where it came from is the caller's to test.)
bool AnswersRequest(const std::uint8_t* datagram, std::size_t length, NtpTime transmitValue);

// The reason an answer cannot be used, or kReasonOk.
Reason JudgeAnswer(const Header& header);

// The kiss code of a stratum-0 answer: its reference identifier as text ("RATE", "DENY", ...),
// printable ASCII only; empty for other strata.
std::string KissCode(const Header& header);

// UTC nanoseconds since 1970 as an NTP timestamp (its era dropped), and back: the time in the era
// that puts it nearest `nearUnixNs` (right within 68 years of it).
NtpTime NtpFromUnixNs(std::int64_t unixNs);
std::int64_t UnixNsFromNtp(NtpTime time, std::int64_t nearUnixNs);

// Offset and delay of one exchange, in 2^-32 s: offset = ((T2 - T1) + (T3 - T4)) / 2,
// delay = (T4 - T1) - (T3 - T2), each difference taken on the era-free 64-bit values as a signed
// number, so that no era and no rounding enters below a nanosecond.
struct OffsetAndDelay {
    std::int64_t offset;
    std::int64_t delay;
};
OffsetAndDelay ComputeOffsetAndDelay(NtpTime t1, NtpTime t2, NtpTime t3, NtpTime t4);

// 2^-32 s units as seconds.
double FixedToSeconds(std::int64_t fixed);
// An NTP short value (16.16 fixed point, unsigned) as seconds.
double ShortToSeconds(std::uint32_t value);

}  // namespace sntp
