// Fuzzes the extended query's matching and reading of a datagram. The first eight bytes are the
// request's transmit value, the rest the datagram: a datagram that does not answer the request
// (shorter than 48 bytes, not mode 4, another origin) is never taken, so it can neither end nor
// change a query; an answer taken as usable has sane figures; the arithmetic never overflows
// into nonsense; and server texts split safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sntp/exchange.h"
#include "sntp/reply.h"

#define REQUIRE(condition) \
    do {                   \
        if (!(condition)) std::abort(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | data[i];
    const std::uint8_t* datagram = data + 8;
    const std::size_t length = size - 8;

    const bool answers = sntp::AnswersRequest(datagram, length, value);
    if (length < static_cast<std::size_t>(sntp::kMessageSize)) {
        REQUIRE(!answers);
    } else {
        const sntp::Header h = sntp::DecodeHeader(datagram);
        REQUIRE(answers == (h.mode() == 4 && h.originTime == value));
        if (answers && sntp::JudgeAnswer(h) == sntp::kReasonOk) {
            REQUIRE(h.stratum >= 1 && h.stratum <= 15 && h.leap() != 3);
            REQUIRE(h.transmitTime != 0);
            REQUIRE(static_cast<std::int64_t>(h.transmitTime - h.receiveTime) >= 0);
            // T1 and T4 from the value's bits: any local times.
            const std::uint64_t t1 = value;
            const std::uint64_t t4 = value + (h.rootDelay & 0xFFFF);
            const sntp::OffsetAndDelay s = sntp::ComputeOffsetAndDelay(t1, h.receiveTime,
                                                                       h.transmitTime, t4);
            (void)s;
            const std::int64_t near = static_cast<std::int64_t>(value >> 2);
            const std::int64_t when = sntp::UnixNsFromNtp(h.transmitTime, near);
            const std::int64_t apart = when > near ? when - near : near - when;
            REQUIRE(apart <= (std::int64_t{1} << 31) * 1000000000 + 1000000000);
        }
        const std::string kiss = sntp::KissCode(h);
        REQUIRE(kiss.size() <= 4);
        REQUIRE(h.stratum == 0 || kiss.empty());
    }
    const std::string text(reinterpret_cast<const char*>(datagram), length < 300 ? length : 300);
    std::string host;
    int port = 0;
    if (sntp::SplitServerText(text, host, port)) {
        REQUIRE(!host.empty());
        REQUIRE(port == -1 || (port >= 1 && port <= 65535));
    }
    return 0;
}
