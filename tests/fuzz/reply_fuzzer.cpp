// Fuzzes the four-function client's reading of a reply and the library's judgement of it: any
// bytes decode to finite fields, and only a reply that passes the sanity test and is a server's
// answer can give outcome 0; every other gives 3 with -1000.0.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "library/outcomes.h"
#include "library/tsntp.h"
#include "sntp/message.h"
#include "sntp/reply.h"

#define REQUIRE(condition) \
    do {                   \
        if (!(condition)) std::abort(); \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < static_cast<std::size_t>(sntp::kMessageSize)) {
        return 0;  // the client drops every datagram of another length before reading it
    }
    // Past the 48 bytes: two more decide the round trip the client would have measured.
    const std::int32_t roundTrip = size >= 50 ? (data[48] << 8 | data[49]) : 0;
    static TSNTP* client = [] {
        auto* c = new TSNTP(nullptr);
        c->BindOutcomeHandlers();
        return c;
    }();
    std::memcpy(client->RawReply.data(), data, sntp::kMessageSize);
    client->DecodeReply(data);
    for (double v : {client->RootDelay, client->RootDispersion, client->ReferenceTimestamp,
                     client->OriginateTimestamp, client->ReceiveTimestamp, client->TransmitTimestamp})
        REQUIRE(std::isfinite(v));
    client->ServerTime = sntp::EstimateServerTime(client->TransmitTimestamp, client->ReceiveTimestamp,
                                                  roundTrip);
    REQUIRE(std::isfinite(client->ServerTime));
    client->ReplyInvalid = sntp::IsInvalidReply(data);
    client->Outcome = QueryOutcome{99, 0.0};
    client->RecordReply(client, 0);
    const bool usable = !sntp::IsInvalidReply(data) && sntp::IsServerAnswer(data);
    const sntp::Header h = sntp::DecodeHeader(data);
    if (client->Outcome.code == outcome::kReplyAccepted) {
        REQUIRE(usable);
        REQUIRE(h.stratum >= 1 && h.stratum <= 15 && h.leap() != 3 && h.mode() == 4);
        REQUIRE(h.transmitTime != 0 && h.receiveTime != 0);
        REQUIRE(std::isfinite(client->Outcome.offset));
    } else {
        REQUIRE(!usable);
        REQUIRE(client->Outcome.code == outcome::kNotResolvable);
        REQUIRE(client->Outcome.offset == outcome::kFailureOffset);
    }
    return 0;
}
