// The extended query: its arguments, the series of exchanges, and the result record. It shares
// nothing with the four functions of the old contract, so calls from several threads run at once.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "library/sntpclient.h"
#include "platform/cancel.h"
#include "platform/net.h"
#include "sntp/exchange_client.h"

namespace {

constexpr std::uint32_t kDefaultTimeoutMs = 4000;
constexpr std::uint32_t kDefaultIntervalMs = 2000;
constexpr std::uint32_t kMostSamples = 8;
constexpr std::uint16_t kDefaultPort = 123;

// The outcome of a reason: OK 0, TIMEOUT 1, NETWORK 2, every other 3.
std::uint16_t OutcomeOf(std::uint16_t reason) {
    switch (reason) {
        case sntp::kReasonOk: return 0;
        case sntp::kReasonTimeout: return 1;
        case sntp::kReasonNetwork: return 2;
        default: return 3;
    }
}

void CopyText(char* to, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

// Writes the record of this version of the structure, and nothing past it.
std::uint16_t Finish(SNTPResult* result, std::uint16_t reason, const sntp::ExchangeResult* exchange,
                     std::uint16_t usable) {
    SNTPResult r;
    std::memset(&r, 0, sizeof r);
    r.size = result->size;
    r.reason = reason;
    r.outcome = OutcomeOf(reason);
    r.samples = usable;
    if (exchange != nullptr) {
        CopyText(r.address, sizeof r.address, exchange->address);
        if (exchange->answered) {
            // What the server said, also when it cannot be used.
            const sntp::Header& h = exchange->header;
            r.reference_id = h.referenceId;
            r.stratum = h.stratum;
            r.leap = static_cast<std::uint8_t>(h.leap());
            r.version = static_cast<std::uint8_t>(h.version());
            r.poll = h.poll;
            r.precision = h.precision;
            CopyText(r.kiss_code, sizeof r.kiss_code, sntp::KissCode(h));
        }
        if (reason == sntp::kReasonOk) {
            r.offset = sntp::FixedToSeconds(exchange->sample.offset);
            r.delay = sntp::FixedToSeconds(exchange->sample.delay);
            r.root_delay = sntp::ShortToSeconds(exchange->header.rootDelay);
            r.root_dispersion = sntp::ShortToSeconds(exchange->header.rootDispersion);
            r.server_time_ns = exchange->serverTimeNs;
        }
    }
    std::memcpy(result, &r, sizeof r);
    return r.outcome;
}

SNTP_CATCHES_THREAD_CANCELLATION std::uint16_t Query(const char* server,
                                                     const SNTPOptions* options,
                                                     SNTPResult* result) {
    if (result->size < sizeof(SNTPResult)) return OutcomeOf(sntp::kReasonBadArgument);
    SNTPOptions o;
    std::memset(&o, 0, sizeof o);
    if (options != nullptr) {
        if (options->size < sizeof(SNTPOptions))
            return Finish(result, sntp::kReasonBadArgument, nullptr, 0);
        std::memcpy(&o, options, sizeof o);
    }
    const std::uint32_t timeoutMs = o.timeout_ms != 0 ? o.timeout_ms : kDefaultTimeoutMs;
    const std::uint32_t samples = o.samples != 0 ? o.samples : 1;
    const std::uint32_t intervalMs = o.interval_ms != 0 ? o.interval_ms : kDefaultIntervalMs;
    std::string host;
    int textPort = -1;
    if (server == nullptr || samples > kMostSamples ||
        (o.family != 0 && o.family != 4 && o.family != 6) ||
        !sntp::SplitServerText(server, host, textPort) || timeoutMs > 0x7FFFFFFF)
        return Finish(result, sntp::kReasonBadArgument, nullptr, 0);
    const auto port = static_cast<std::uint16_t>(
        textPort > 0 ? textPort : (o.port != 0 ? o.port : kDefaultPort));

    platform::net::SocketsInUse sockets;
    if (sockets.Failed()) return Finish(result, sntp::kReasonNetwork, nullptr, 0);
    std::vector<platform::net::SocketAddress> addresses;
    if (!platform::net::Resolve(host, port, o.family, addresses))
        return Finish(result, sntp::kReasonResolve, nullptr, 0);

    // The usable reply with the smallest delay is the one with the least error.
    sntp::ExchangeResult best, last;
    std::uint16_t usable = 0;
    for (std::uint32_t i = 0; i < samples; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        last = sntp::RunExchange(addresses, static_cast<int>(timeoutMs));
        // A server that says "RATE" or "DENY" is not asked again, and has the last word.
        if (last.reason == sntp::kReasonKiss) return Finish(result, last.reason, &last, usable);
        if (last.reason != sntp::kReasonOk) continue;
        if (usable == 0 || last.sample.delay < best.sample.delay) best = last;
        ++usable;
    }
    if (usable > 0) return Finish(result, sntp::kReasonOk, &best, usable);
    return Finish(result, last.reason, &last, 0);
}

}  // namespace

extern "C" SNTP_CATCHES_THREAD_CANCELLATION SNTP_API std::uint16_t SNTP_CALL
QueryServerEx(const char* server, const SNTPOptions* options, SNTPResult* result) {
    if (result == nullptr) return OutcomeOf(sntp::kReasonBadArgument);
    try {
        return Query(server, options, result);
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        // Memory ran out, or the like: no exception crosses the library's edge.
        if (result->size >= sizeof(SNTPResult)) return Finish(result, sntp::kReasonNetwork, nullptr, 0);
        return OutcomeOf(sntp::kReasonNetwork);
    }
}

extern "C" SNTP_API const char* SNTP_CALL SNTPReasonText(std::uint16_t reason) {
    return sntp::ReasonText(reason);
}
