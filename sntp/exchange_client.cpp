// One exchange of the extended query over the system's sockets.
#include "sntp/exchange_client.h"

#include <cstdlib>
#include <memory>

namespace sntp {

namespace {
constexpr std::int64_t kNanosecondsPerMillisecond = 1000000;
// The kernel's receive time stands for T4 only where it agrees with the clocks within this.
constexpr std::int64_t kKernelTimeAgreementNs = kNanosecondsPerMillisecond;
}  // namespace

ExchangeResult RunExchange(const std::vector<platform::net::SocketAddress>& addresses,
                           int timeoutMs) {
    ExchangeResult result;
    NtpTime transmitValue = 0;
    if (!platform::net::RandomBytes(&transmitValue, sizeof transmitValue)) {
        result.reason = kReasonNetwork;
        return result;
    }
    const Message request = BuildClientRequest(transmitValue);

    // The first address that takes the request is the one asked; one whose send fails at once
    // gives way to the next.
    std::unique_ptr<platform::net::DatagramSocket> socket;
    const platform::net::SocketAddress* asked = nullptr;
    std::int64_t t1Utc = 0, t1Monotonic = 0;
    for (const platform::net::SocketAddress& address : addresses) {
        auto candidate = std::make_unique<platform::net::DatagramSocket>();
        if (!candidate->Open(address.family)) continue;
        t1Monotonic = platform::net::MonotonicNs();
        t1Utc = platform::net::UtcNowNs();
        if (!candidate->Send(address, request.data(), request.size())) continue;
        socket = std::move(candidate);
        asked = &address;
        break;
    }
    if (asked == nullptr) {
        result.reason = kReasonNetwork;
        if (!addresses.empty()) result.address = addresses.front().Text();
        return result;
    }
    result.address = asked->Text();

    const std::int64_t deadline = t1Monotonic + timeoutMs * kNanosecondsPerMillisecond;
    for (;;) {
        const std::int64_t left = deadline - platform::net::MonotonicNs();
        if (left <= 0) break;
        std::uint8_t datagram[kMessageSize + 1];
        std::size_t length = 0;
        platform::net::SocketAddress from;
        std::int64_t kernelUtc = 0;
        const auto wait = socket->Receive(datagram, sizeof datagram, length, from, kernelUtc,
                                         static_cast<int>((left + kNanosecondsPerMillisecond - 1) /
                                                          kNanosecondsPerMillisecond));
        const std::int64_t t4Monotonic = platform::net::MonotonicNs();
        if (wait == platform::net::DatagramSocket::Wait::TimedOut) continue;
        if (wait == platform::net::DatagramSocket::Wait::Failed) {
            result.reason = kReasonNetwork;
            return result;
        }
        // A forged or stray datagram neither ends nor changes the exchange.
        // (A longer datagram is judged on its first 48 bytes; a shorter one is no answer.)
        if (!(from == *asked)) continue;
        if (!AnswersRequest(datagram, length, transmitValue)) continue;
        // T4 from T1 and the monotonic clock, so that a step of the wall clock during the
        // exchange cannot corrupt it; the kernel's receive time where it agrees.
        std::int64_t t4Utc = t1Utc + (t4Monotonic - t1Monotonic);
        if (kernelUtc != 0 && std::llabs(kernelUtc - t4Utc) <= kKernelTimeAgreementNs &&
            kernelUtc >= t1Utc)
            t4Utc = kernelUtc;
        result.answered = true;
        result.header = DecodeHeader(datagram);
        result.reason = JudgeAnswer(result.header);
        if (result.reason != kReasonOk) return result;
        result.sample = ComputeOffsetAndDelay(NtpFromUnixNs(t1Utc), result.header.receiveTime,
                                              result.header.transmitTime, NtpFromUnixNs(t4Utc));
        result.serverTimeNs = UnixNsFromNtp(result.header.transmitTime, t4Utc);
        return result;
    }
    result.reason = kReasonTimeout;
    return result;
}

}  // namespace sntp
