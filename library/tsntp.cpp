// The outcome handlers of the library's client.
#include "library/tsntp.h"

#include "library/outcomes.h"
#include "platform/clock.h"
#include "platform/fpu.h"

namespace {
// Called while the precision scope holds, so that the compiler cannot move it outside.
__attribute__((noinline)) double OffsetFrom(double serverTime, double localTime) {
    return platform::RoundToDouble(static_cast<long double>(serverTime) - localTime);
}
}  // namespace

void TSNTP::Record(std::uint16_t code, double offset) {
    LastOutcome = code;
    LastOffset = offset;
    Busy = false;
}

void TSNTP::RecordReply(TObject*, std::uint16_t) {
    // A server that is unsynchronised, sends a kiss-o'-death or gives no time has no offset to
    // offer: taking one would let a host set its clock from garbage. Nor has a datagram that is
    // no answer to a client, such as a broadcast that reached the listening socket on port 123.
    if (ReplyInvalid || !sntp::IsServerAnswer(RawReply.data()))
        return Record(outcome::kNotResolvable, outcome::kFailureOffset);
    // The offset is against the local wall clock, not against UTC. The host may have set the
    // x87 unit to single precision, which would cost minutes here.
    platform::ExtendedPrecisionScope extended;
    Record(outcome::kReplyAccepted, OffsetFrom(ServerTime, platform::LocalDateTime()));
}

void TSNTP::RecordTimeout(TObject*) { Record(outcome::kNoReplyInTime, outcome::kFailureOffset); }

void TSNTP::RecordWinsockError(TObject*, std::uint16_t) {
    // The reply can still come to the query socket when the listening socket could not open
    // (port 123 held by another program, or no privilege for it): the query goes on.
    if (LastErrorSocket != nullptr && LastErrorSocket == ListenSocket) return;
    Record(outcome::kSocketError, outcome::kFailureOffset);
}

void TSNTP::RecordResolveError(TObject*) {
    Record(outcome::kNotResolvable, outcome::kFailureOffset);
}
