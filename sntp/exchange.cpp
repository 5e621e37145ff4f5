// The arithmetic and the judgements of one exchange of the extended query.
#include "sntp/exchange.h"

namespace sntp {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// Seconds from 1900-01-01 (the NTP epoch) to 1970-01-01.
constexpr std::int64_t kNtpToUnixSeconds = 2208988800;

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// Half of a + b without overflow, rounded toward negative infinity in the last 2^-32 s.
std::int64_t HalfSum(std::int64_t a, std::int64_t b) {
    return (a >> 1) + (b >> 1) + (a & b & 1);
}

void WriteBigEndian64(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (56 - 8 * i));
}

}  // namespace

const char* ReasonText(std::uint16_t reason) {
    switch (reason) {
        case kReasonOk: return "reply accepted";
        case kReasonTimeout: return "no reply in time";
        case kReasonNetwork: return "a socket could not be opened or the request not sent";
        case kReasonResolve: return "the server name did not resolve to an address of the family asked";
        case kReasonKiss: return "the server sent a kiss-o'-death (stratum 0)";
        case kReasonUnsynchronised: return "the server's clock is not synchronised";
        case kReasonBadReply: return "the reply carries no usable time";
        case kReasonBadArgument: return "bad argument";
        default: return "unknown reason";
    }
}

bool SplitServerText(const std::string& text, std::string& host, int& port) {
    host.clear();
    port = -1;
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) return false;
        host = text.substr(1, close - 1);
        if (host.find(':') == std::string::npos) return false;  // brackets hold IPv6 text only
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            portText = rest.substr(1);
            if (!AllDigits(portText)) return false;
        }
    } else {
        const std::size_t first = text.find(':');
        if (first != std::string::npos && text.find(':', first + 1) == std::string::npos) {
            host = text.substr(0, first);
            portText = text.substr(first + 1);
            if (!AllDigits(portText)) return false;
        } else {
            host = text;  // no colon, or bare IPv6 text
        }
    }
    if (host.empty()) return false;
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '[' || c == ']' || c == '/') return false;
    if (!portText.empty()) {
        port = std::stoi(portText);
        if (port < 1 || port > 65535) return false;
    }
    return true;
}

Message BuildClientRequest(NtpTime transmitValue) {
    Message request{};
    request[kLeapVersionMode] = 0x23;  // leap 0, version 4, mode 3 (client)
    WriteBigEndian64(&request[kTransmitTimestamp], transmitValue);
    return request;
}

bool AnswersRequest(const std::uint8_t* datagram, std::size_t length, NtpTime transmitValue) {
    if (length < static_cast<std::size_t>(kMessageSize)) return false;
    const Header header = DecodeHeader(datagram);
    return header.mode() == 4                      // a server's answer
           && header.originTime == transmitValue;  // to this very request
}

Reason JudgeAnswer(const Header& header) {
    if (header.stratum == 0) return kReasonKiss;
    if (header.leap() == 3 || header.stratum >= 16) return kReasonUnsynchronised;
    if (header.transmitTime == 0) return kReasonBadReply;
    // Sent before it was received: no time to rely on. (The era-free difference, read signed.)
    if (static_cast<std::int64_t>(header.transmitTime - header.receiveTime) < 0)
        return kReasonBadReply;
    return kReasonOk;
}

std::string KissCode(const Header& header) {
    std::string code;
    if (header.stratum != 0) return code;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((header.referenceId >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) break;
        code += c;
    }
    while (!code.empty() && code.back() == ' ') code.pop_back();
    return code;
}

NtpTime NtpFromUnixNs(std::int64_t unixNs) {
    std::int64_t seconds = unixNs / kNanosecondsPerSecond;
    std::int64_t nanoseconds = unixNs % kNanosecondsPerSecond;
    if (nanoseconds < 0) {
        nanoseconds += kNanosecondsPerSecond;
        seconds -= 1;
    }
    const auto ntpSeconds = static_cast<std::uint64_t>(seconds + kNtpToUnixSeconds);
    // The fraction rounded to the nearest 2^-32 s.
    const std::uint64_t fraction =
        ((static_cast<std::uint64_t>(nanoseconds) << 32) + kNanosecondsPerSecond / 2) /
        kNanosecondsPerSecond;
    return (ntpSeconds << 32) + fraction;
}

std::int64_t UnixNsFromNtp(NtpTime time, std::int64_t nearUnixNs) {
    // The signed era-free distance from the reference, at most 2^31 s either way.
    const auto distance = static_cast<std::int64_t>(time - NtpFromUnixNs(nearUnixNs));
    const std::int64_t seconds = distance >> 32;  // rounds toward negative infinity
    const auto fraction = static_cast<std::uint64_t>(distance & 0xFFFFFFFF);
    const auto nanoseconds = static_cast<std::int64_t>(
        (fraction * kNanosecondsPerSecond + 0x80000000u) >> 32);
    return nearUnixNs + seconds * kNanosecondsPerSecond + nanoseconds;
}

OffsetAndDelay ComputeOffsetAndDelay(NtpTime t1, NtpTime t2, NtpTime t3, NtpTime t4) {
    const auto request = static_cast<std::int64_t>(t2 - t1);   // T2 - T1
    const auto reply = static_cast<std::int64_t>(t3 - t4);     // T3 - T4
    const auto elapsed = static_cast<std::int64_t>(t4 - t1);   // T4 - T1, on this machine
    const auto held = static_cast<std::int64_t>(t3 - t2);      // T3 - T2, at the server
    // The sum may exceed 64 bits where a server is decades off; the difference wraps rather than
    // overflow, and is right for every answer the judgement lets pass (no negative hold).
    const auto delay = static_cast<std::int64_t>(static_cast<std::uint64_t>(elapsed) -
                                                 static_cast<std::uint64_t>(held));
    return OffsetAndDelay{HalfSum(request, reply), delay};
}

double FixedToSeconds(std::int64_t fixed) {
    return static_cast<double>(fixed) / 4294967296.0;
}

double ShortToSeconds(std::uint32_t value) { return static_cast<double>(value) / 65536.0; }

}  // namespace sntp
